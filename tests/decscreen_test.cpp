// decscreen: the RGB332 expansion, the BMP it writes, its vectorised row
// decoder against the portable one, and the program run as a user runs it,
// alone and behind encscreen.
#include <gtest/gtest.h>

#include <random>

#include "formats/le.hpp"
#include "formats/bmp.hpp"
#include "support.hpp"
#include "tests/reference/screen.hpp"

namespace fs = std::filesystem;

static const std::string kEnc = q(ENCSCREEN_EXE);
static const std::string kDec = q(DECSCREEN_EXE);

TEST(ExpandRgb332, BrightestLevelIs252)
{
    const struct {
        uint8_t a;
        std::array<uint8_t, 3> want; // red, green, blue
    } cases[] = {
        {0xFF, {252, 252, 252}}, {0xE0, {252, 0, 0}}, {0x1C, {0, 252, 0}}, {0x03, {0, 0, 252}},
        {0x00, {0, 0, 0}},       {0x25, {36, 36, 84}}, {0x92, {144, 144, 168}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(screen_rgb(c.a), c.want) << int(c.a);
}

static RunResult decode(const fs::path& scn, const fs::path& bmp)
{
    return run(kDec + " " + q(scn) + " " + q(bmp));
}

TEST(Decscreen, WhiteOverBlack)
{
    const fs::path dir = scratch_dir();
    // White lines (code 3) above black ones (code 1); attributes 00 00 00 FF.
    write_file(dir / "in.scn", make_scn(8, 8, [](size_t i) -> uint8_t {
                   return i < 8 ? 0xFF : i < 16 ? 0x55 : i == 19 ? 0xFF : 0;
               }));
    const RunResult r = decode(dir / "in.scn", dir / "out.bmp");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    const Bytes b = read_file(dir / "out.bmp");
    ASSERT_EQ(b.size(), 246u);
    const Bytes header = {'B', 'M', 246, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0, 1, 0,
                          24, 0};
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 30), header);
    EXPECT_EQ(Bytes(b.begin() + 30, b.begin() + 54), Bytes(24, 0));
    // The first four rows written are the bottom lines: black; then (252, 252, 252).
    for (size_t i = 54; i < 246; ++i)
        ASSERT_EQ(b[i], i < 54 + 4 * 24 ? 0 : 252) << i;
}

TEST(Decscreen, SizesAndPadding)
{
    const fs::path dir = scratch_dir();
    struct Case {
        uint16_t w, h;
        size_t size;
    };
    // Rows are 3w bytes padded to a multiple of 4: w % 4 zero bytes.
    const Case cases[] = {{16, 16, 822},
                          {12, 8, 54 + 8 * 36},
                          {8, 12, 54 + 12 * 24},
                          {13, 17, 54 + 17 * 40},
                          {5, 3, 54 + 3 * 16},
                          // No whole symbol, and rows enough for several blocks of output.
                          {7, 9000, 54 + 9000 * 24}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        // Every symbol's code-0 colour is white, every pixel code 0.
        write_file(dir / "in.scn", make_scn(c.w, c.h, [&](size_t i) -> uint8_t {
                       const size_t raster = 2 * size_t(c.w >> 3) * c.h;
                       return i >= raster && (i - raster) % 4 == 0 ? 0xFF : 0;
                   }));
        ASSERT_EQ(decode(dir / "in.scn", dir / "out.bmp").status, 0);
        const Bytes b = read_file(dir / "out.bmp");
        ASSERT_EQ(b.size(), c.size);
        EXPECT_EQ(get_le32(b, 2), c.size);
        EXPECT_EQ(get_le32(b, 18), c.w);
        EXPECT_EQ(get_le32(b, 22), c.h);
        const size_t stride = 3 * c.w + c.w % 4;
        const int covered_w = c.w / 8 * 8, covered_h = c.h / 8 * 8;
        for (int y = 0; y < c.h; ++y) {
            // Symbols are counted from the bottom: the top h % 8 lines have none.
            const bool in_symbol = y >= c.h - covered_h;
            for (int x = 0; x < c.w; ++x) {
                const Rgb want = in_symbol && x < covered_w ? Rgb{252, 252, 252} : Rgb{0, 0, 0};
                ASSERT_EQ(bmp_pixel(b, x, y), want) << x << "," << y;
            }
            for (size_t k = 3 * size_t(c.w); k < stride; ++k)
                ASSERT_EQ(b[54 + size_t(c.h - 1 - y) * stride + k], 0) << "padding";
        }
    }
}

TEST(Decscreen, FailureTable)
{
    const fs::path dir = scratch_dir();
    const Bytes good = make_scn(8, 8, [](size_t i) { return uint8_t(i); });
    write_file(dir / "good.scn", good);
    write_file(dir / "huge.scn", make_scn(0, 0, [](size_t) { return 0; }));
    Bytes huge = read_file(dir / "huge.scn");
    put_le16(huge, 8, 65528);
    put_le16(huge, 10, 65528);
    write_file(dir / "huge.scn", huge);
    put_le16(huge, 8, 32768); // a BMP of 3 GiB, which fits
    put_le16(huge, 10, 32768);
    write_file(dir / "big.scn", huge);
    // A BMP and /dev/zero hold zeros where a screen file has its size.
    write_file(dir / "pic.bmp", bmp_header(16, 16));
    write_file(dir / "zero-width.scn", make_scn(0, 8, [](size_t) { return 0; }));
    fs::create_directory(dir / "folder.scn");
    const Bytes before = {'o', 'l', 'd'};

    struct Case {
        const char* name;
        std::string command; // run with the output path appended
        std::string out, err;
        int status;
        bool written;
    };
    const std::string trunc = "scnfile is truncated\n";
    const std::string large = "the picture is too large for a bmp file\n";
    const std::string not_scn = "scnfile is not a screen file\n";
    const Case cases[] = {
        {"missing screen file", kDec + " " + q(dir / "missing.scn"), "scnfile was not opened\n", "", 1, false},
        {"screen file is a folder", kDec + " " + q(dir / "folder.scn"), "scnfile was not opened\n", "", 1, false},
        {"header claims 32768x32768", kDec + " " + q(dir / "big.scn"), "", trunc, 1, false},
        {"same through a pipe", "cat " + q(dir / "big.scn") + " | " + kDec + " /dev/stdin", "", trunc, 1, false},
        {"header claims a BMP above 4 GiB", kDec + " " + q(dir / "huge.scn"), "", large, 1, false},
        {"same through a pipe", "cat " + q(dir / "huge.scn") + " | " + kDec + " /dev/stdin", "", large, 1, false},
        {"arguments swapped: a BMP", kDec + " " + q(dir / "pic.bmp"), "", not_scn, 1, false},
        {"/dev/zero", kDec + " /dev/zero", "", not_scn, 1, false},
        {"zero width", kDec + " " + q(dir / "zero-width.scn"), "", not_scn, 1, false},
        {"success", kDec + " " + q(dir / "good.scn"), "", "", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir / "out.bmp", before);
        const RunResult r = run(c.command + " " + q(dir / "out.bmp"));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        if (c.written)
            EXPECT_EQ(read_file(dir / "out.bmp").size(), 246u);
        else
            EXPECT_EQ(read_file(dir / "out.bmp"), before);
    }

    // A PNG preview has no 4 GiB limit: the same huge claim is only short.
    const RunResult png = run(kDec + " " + q(dir / "huge.scn") + " " + q(dir / "out.png"));
    EXPECT_EQ(png.status, 1);
    EXPECT_EQ(png.err, trunc);
    EXPECT_FALSE(fs::exists(dir / "out.png"));

    // A missing screen file leaves no BMP behind.
    EXPECT_EQ(run(kDec + " " + q(dir / "missing.scn") + " " + q(dir / "new.bmp")).status, 1);
    EXPECT_FALSE(fs::exists(dir / "new.bmp"));

    // Every file shorter than the header promises is refused and creates
    // nothing, whether its size is known up front or it comes through a pipe.
    for (size_t len = 0; len < good.size(); ++len) {
        write_file(dir / "cut.scn", Bytes(good.begin(), good.begin() + ptrdiff_t(len)));
        for (const std::string& command : {kDec + " " + q(dir / "cut.scn") + " " + q(dir / "cut.bmp"),
                                           "cat " + q(dir / "cut.scn") + " | " + kDec + " /dev/stdin " +
                                               q(dir / "cut.bmp")}) {
            const RunResult r = run(command);
            ASSERT_EQ(r.status, 1) << len << ": " << command;
            ASSERT_EQ(r.out, "") << len << ": " << command;
            ASSERT_EQ(r.err, trunc) << len << ": " << command;
            ASSERT_FALSE(fs::exists(dir / "cut.bmp")) << len << ": " << command;
        }
    }

    const std::string usage = "Usage: decscreen <>.scn <>.bmp \n\a";
    for (const std::string& args : {std::string(), q(dir / "good.scn")}) {
        const RunResult r = run(kDec + " " + args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, usage);
        EXPECT_EQ(r.err, "");
    }
    const RunResult no_dir = run(kDec + " " + q(dir / "good.scn") + " " + q(dir / "no" / "out.bmp"));
    EXPECT_EQ(no_dir.status, 1);
    EXPECT_EQ(no_dir.out, "bmpfile was not opened\n");
}

TEST(Decscreen, RoundTripThroughEncscreen)
{
    const fs::path dir = scratch_dir();
    // Uniform symbols in colours of the expansion table come back unchanged;
    // black and pure white come back as black and (252, 252, 252).
    const Rgb palette[] = {{252, 0, 84}, {36, 216, 168}, {0, 0, 0}, {252, 252, 252}, {144, 72, 252}, {255, 255, 255}};
    const Picture p = make_picture(24, 16, [&](int x, int y) { return palette[(x / 8 + 3 * (y / 8)) % 6]; });
    write_file(dir / "in.bmp", make_bmp(p));
    ASSERT_EQ(run(kEnc + " " + q(dir / "in.bmp") + " " + q(dir / "mid.scn")).status, 1);
    // Through pipes both ways.
    const RunResult r = run("cat " + q(dir / "mid.scn") + " | " + kDec + " /dev/stdin /dev/stdout | cat > " +
                            q(dir / "out.bmp"));
    ASSERT_EQ(r.err, "");
    const Bytes out = read_file(dir / "out.bmp");
    ASSERT_EQ(out.size(), 54u + 16 * 72);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            Rgb want = p.at(x, y);
            if (want == Rgb{255, 255, 255})
                want = {252, 252, 252};
            ASSERT_EQ(bmp_pixel(out, x, y), want) << x << "," << y;
        }
}

TEST(Decscreen, ImageMagickReadsTheBmps)
{
    if (!have_imagemagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    const fs::path dir = scratch_dir();
    for (const auto& [w, h] : {std::pair<uint16_t, uint16_t>{16, 16}, {12, 8}, {8, 12}, {13, 17}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        // Varied codes and colours, so that a misread row or channel shows.
        write_file(dir / "in.scn", make_scn(w, h, [](size_t i) { return uint8_t(i * 37 + 11); }));
        ASSERT_EQ(decode(dir / "in.scn", dir / "out.bmp").status, 0);
        const Bytes bmp = read_file(dir / "out.bmp");
        const RunResult r = run("convert " + q(dir / "out.bmp") + " -depth 8 rgb:" + q(dir / "out.rgb"));
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        const Bytes rgb = read_file(dir / "out.rgb");
        ASSERT_EQ(rgb.size(), 3u * w * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t at = 3 * (size_t(y) * w + size_t(x));
                ASSERT_EQ((Rgb{rgb[at], rgb[at + 1], rgb[at + 2]}), bmp_pixel(bmp, x, y)) << x << "," << y;
            }
    }
}

TEST(DecodeBmpRow, Ssse3MatchesThePortableOne)
{
#if VORNE_X86_KERNELS
    if (!cpu_has_ssse3())
        GTEST_SKIP() << "this processor runs only the portable row decoder";
    // Widths where the row ends with its last symbol (the fast stores reach 4
    // bytes past a symbol) or goes on past it with pixels and padding, or
    // has no symbol; heights with lines above the last symbol row.
    const std::pair<uint32_t, uint32_t> sizes[] = {{8, 8},  {16, 9}, {24, 16}, {9, 8},  {10, 8}, {11, 8},
                                                   {12, 8}, {13, 8}, {15, 8},  {7, 15}, {0, 8},  {72, 24}};
    std::mt19937 random(3);
    for (const auto& [w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        ScreenImage s = make_screen(w, h);
        for (uint16_t& word : s.raster)
            word = uint16_t(random());
        for (uint8_t& a : s.attributes)
            a = uint8_t(random());
        // Each row into a buffer full of garbage with 16 more bytes after
        // it, which must stay as they were.
        const size_t size = size_t(bmp_row_size(w));
        for (uint32_t i = 0; i < h; ++i) {
            std::vector<uint8_t> want(size + 16, 0xA5), got(size + 16, 0xA5);
            std::fill_n(got.begin(), size, 0x5A);
            decode_bmp_row_portable(s, i, want.data());
            decode_bmp_row_ssse3(s, i, got.data());
            ASSERT_EQ(got, want) << "row " << i;
        }
    }
#else
    GTEST_SKIP() << "the SSSE3 row decoder is built only for x86";
#endif
}
