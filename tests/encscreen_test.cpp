// encscreen run as a user runs it: exit status, both streams, the output
// file; and its vectorised quantizers against the portable one.
#include <gtest/gtest.h>

#include <random>

#include "encode/quantize_luma.hpp"
#include "support.hpp"

namespace fs = std::filesystem;

static const std::string kEnc = q(ENCSCREEN_EXE);

// The 8x8 picture with four white lines above four black ones, and its screen file.
static Picture white_over_black()
{
    return make_picture(8, 8, [](int, int y) { return y < 4 ? Rgb{255, 255, 255} : Rgb{0, 0, 0}; });
}
static const Bytes kWhiteOverBlackScn = {
    0x53, 0x43, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x08, 0x00, 0x08, 0x00, 0x10, 0x00, 0x02, 0x00,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
    0x00, 0x00, 0x00, 0xFF};

TEST(Encscreen, WritesTheScreenFileAndReturnsOne)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "in.bmp", make_bmp(white_over_black()));
    const RunResult r = run(kEnc + " " + q(dir / "in.bmp") + " " + q(dir / "out.scn"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir / "out.scn"), kWhiteOverBlackScn);
}

TEST(Encscreen, TopLeftSymbolOf16x16)
{
    const fs::path dir = scratch_dir();
    // Top-left symbol white, the rest black: it must be symbol 0, raster lines 0..7.
    write_file(dir / "in.bmp", make_bmp(make_picture(16, 16, [](int x, int y) {
                   return x < 8 && y < 8 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
               })));
    ASSERT_EQ(run(kEnc + " " + q(dir / "in.bmp") + " " + q(dir / "out.scn")).status, 1);
    const Bytes b = read_file(dir / "out.scn");
    ASSERT_EQ(b.size(), 96u);
    // Uniform symbols: all code 3 (0xFFFF), with the colour in byte 3.
    for (size_t line = 0; line < 16; ++line)
        for (size_t w = 0; w < 2; ++w)
            EXPECT_EQ(b[16 + 4 * line + 2 * w], 0xFF);
    EXPECT_EQ(Bytes(b.begin() + 80, b.end()), (Bytes{0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Encscreen, FailureTable)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "good.bmp", make_bmp(white_over_black()));
    Bytes eight_bit = make_bmp(white_over_black());
    eight_bit[28] = 8;
    Bytes rle = make_bmp(white_over_black());
    rle[30] = 1;
    Bytes truncated = make_bmp(white_over_black());
    truncated.pop_back();
    Bytes claims_huge = bmp_header(65528, 65528);
    write_file(dir / "8bit.bmp", eight_bit);
    write_file(dir / "rle.bmp", rle);
    write_file(dir / "short.bmp", Bytes(20, 'B'));
    write_file(dir / "12x8.bmp", bmp_header(12, 8));
    write_file(dir / "tall.bmp", bmp_header(8, 65536));
    write_file(dir / "truncated.bmp", truncated);
    write_file(dir / "huge.bmp", claims_huge);
    fs::create_directory(dir / "folder.bmp");

    const std::string usage = "Usage: encscreen <>.bmp <>.scn \n\a";
    const std::string not24 = "the file is not 24bit bmp \n";
    const std::string size = "the picture width and height must be multiples of 8 up to 65528\n";
    const std::string trunc = "bmpfile is truncated\n";
    struct Case {
        const char* name;
        std::string args;
        std::string out, err;
    };
    const fs::path o = dir / "out.scn";
    const Case cases[] = {
        {"no arguments", "", usage, ""},
        {"one argument", q(dir / "good.bmp"), usage, ""},
        {"missing input", q(dir / "missing.bmp") + " " + q(o), "bmpfile was not opened\n", ""},
        {"input is a folder", q(dir / "folder.bmp") + " " + q(o), "bmpfile was not opened\n", ""},
        {"8 bits a pixel", q(dir / "8bit.bmp") + " " + q(o), "", not24},
        {"compressed", q(dir / "rle.bmp") + " " + q(o), "", not24},
        {"shorter than the headers", q(dir / "short.bmp") + " " + q(o), "", not24},
        {"width not a multiple of 8", q(dir / "12x8.bmp") + " " + q(o), "", size},
        {"height above 65528", q(dir / "tall.bmp") + " " + q(o), "", size},
        {"pixels cut short", q(dir / "truncated.bmp") + " " + q(o), "", trunc},
        {"header alone claiming 65528x65528", q(dir / "huge.bmp") + " " + q(o), "", trunc},
        {"output folder missing", q(dir / "good.bmp") + " " + q(dir / "no" / "out.scn"), "scnfile was not opened\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult r = run(kEnc + " " + c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(fs::exists(o));
    }
}

TEST(Encscreen, FailedInputLeavesExistingOutputAlone)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "short.bmp", Bytes(60, 0));
    write_file(dir / "out.scn", {1, 2, 3});
    EXPECT_EQ(run(kEnc + " " + q(dir / "short.bmp") + " " + q(dir / "out.scn")).status, 0);
    EXPECT_EQ(read_file(dir / "out.scn"), (Bytes{1, 2, 3}));
}

TEST(Encscreen, HeaderVariantsGiveTheSameScreenFile)
{
    const fs::path dir = scratch_dir();
    const Picture p = make_picture(24, 16, [](int x, int y) {
        return Rgb{uint8_t(x * 10), uint8_t(y * 15), uint8_t((x ^ y) * 7)};
    });
    write_file(dir / "plain.bmp", make_bmp(p));
    ASSERT_EQ(run(kEnc + " " + q(dir / "plain.bmp") + " " + q(dir / "plain.scn")).status, 1);
    const Bytes want = read_file(dir / "plain.scn");
    ASSERT_EQ(want.size(), 16u + 2 * 3 * 16 + 4 * 3 * 2);

    struct Variant {
        const char* name;
        BmpLayout layout;
    };
    const Variant variants[] = {
        {"108-byte header", {108, 0, false, 0, {'B', 'M'}}},
        {"124-byte header", {124, 0, false, 0, {'B', 'M'}}},
        {"gap before the pixels", {40, 333, false, 0, {'B', 'M'}}},
        {"top-down", {40, 0, true, 0, {'B', 'M'}}},
        {"bit fields", {40, 0, false, 3, {'B', 'M'}}},
        {"wrong signature", {40, 0, false, 0, {'P', 'K'}}},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        write_file(dir / "v.bmp", make_bmp(p, v.layout));
        fs::remove(dir / "v.scn");
        ASSERT_EQ(run(kEnc + " " + q(dir / "v.bmp") + " " + q(dir / "v.scn")).status, 1);
        EXPECT_EQ(read_file(dir / "v.scn"), want);
    }

    // Through pipes: the picture from standard input, the screen file to standard output.
    const RunResult piped = run("cat " + q(dir / "v.bmp") + " | " + kEnc + " /dev/stdin /dev/stdout | cat > " +
                                q(dir / "piped.scn"));
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(read_file(dir / "piped.scn"), want);
}

TEST(Encscreen, ImageMagickDefaultBmp3AndBmp2GiveTheSameScreenFile)
{
    if (!have_imagemagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    const fs::path dir = scratch_dir();
    const Picture p = make_picture(32, 24, [](int x, int y) {
        return Rgb{uint8_t(x * 8), uint8_t(y * 10), uint8_t(255 - x * 4)};
    });
    write_file(dir / "src.bmp", make_bmp(p));
    ASSERT_EQ(run("convert " + q(dir / "src.bmp") + " -type TrueColor " + q(dir / "im4.bmp")).status, 0);
    ASSERT_EQ(run("convert " + q(dir / "src.bmp") + " -type TrueColor BMP3:" + q(dir / "im3.bmp")).status, 0);
    // BMP2: is the OS/2 layout, a 12-byte core header with 16-bit sizes.
    ASSERT_EQ(run("convert " + q(dir / "src.bmp") + " -type TrueColor BMP2:" + q(dir / "im2.bmp")).status, 0);
    EXPECT_EQ(read_file(dir / "im2.bmp").at(14), 12) << "expected a 12-byte core header from BMP2:";
    const Bytes im4 = read_file(dir / "im4.bmp");
    ASSERT_GE(im4.size(), 54u);
    EXPECT_GT(im4[14], 40) << "expected a larger info header from ImageMagick's default writer";

    for (const char* name : {"src", "im4", "im3", "im2"})
        ASSERT_EQ(run(kEnc + " " + q(dir / (std::string(name) + ".bmp")) + " " +
                      q(dir / (std::string(name) + ".scn")))
                      .status,
                  1)
            << name;
    EXPECT_EQ(read_file(dir / "im4.scn"), read_file(dir / "im3.scn"));
    EXPECT_EQ(read_file(dir / "im2.scn"), read_file(dir / "im3.scn"));
    EXPECT_EQ(read_file(dir / "im4.scn"), read_file(dir / "src.scn"));

    // And through a pipe from ImageMagick, as the README shows.
    ASSERT_EQ(run("convert " + q(dir / "src.bmp") + " -type TrueColor bmp:- | " + kEnc + " /dev/stdin " +
                  q(dir / "pipe.scn"))
                  .status,
              1);
    EXPECT_EQ(read_file(dir / "pipe.scn"), read_file(dir / "src.scn"));
}

// The vectorised quantizers this processor runs; each must give what the
// portable one gives, byte for byte.
struct QuantizerVersion {
    const char* name;
    SymbolRaster (*quantize)(const uint8_t*, ptrdiff_t);
};

static std::vector<QuantizerVersion> fast_quantizers()
{
    std::vector<QuantizerVersion> v;
#if VORNE_X86_KERNELS
    if (cpu_has_ssse3())
        v.push_back({"ssse3", quantize_luma_bgr_ssse3});
    if (cpu_has_avx2())
        v.push_back({"avx2", quantize_luma_bgr_avx2});
#endif
    return v;
}

// Coding takes any pixels against any choice: a pixel's code is the number
// of thresholds it reaches, one exactly on a threshold taking the higher.
TEST(QuantizeLuma, CodesOtherPixelsByTheChoicesThresholds)
{
    const LumaChoice choice{{1, 2, 3, 4}, 100, 300, 600};
    // Lumas R + 2G + B/2 of 0, 99, 100, 299, 300, 599, 600 and 892, one a column.
    const Rgb line[8] = {{0, 0, 0},     {99, 0, 0},    {100, 0, 0},   {255, 22, 0},
                         {255, 22, 2},  {255, 172, 0}, {255, 172, 2}, {255, 255, 255}};
    std::array<uint8_t, 192> px;
    for (size_t j = 0; j < 64; ++j) {
        const Rgb c = line[j % 8];
        px[3 * j] = c.b;
        px[3 * j + 1] = c.g;
        px[3 * j + 2] = c.r;
    }
    std::array<uint16_t, 8> want;
    want.fill(0b00'00'01'01'10'10'11'11);
    EXPECT_EQ(code_luma(px.data(), 24, choice), want);
}

// One symbol, 64 blue-green-red pixels bottom line first, in a buffer of
// exactly that size so that a read past its last byte shows under the
// sanitizers.
using SymbolBgr = std::array<uint8_t, 192>;

static void expect_same_as_portable(const SymbolBgr& px, const char* what)
{
    SCOPED_TRACE(what);
    const SymbolRaster want = quantize_luma_bgr_portable(px.data(), 24);
    // The same lines read top line first, through a negative stride.
    SymbolBgr flipped;
    for (size_t line = 0; line < 8; ++line)
        std::copy_n(px.begin() + 24 * ptrdiff_t(line), 24, flipped.begin() + 24 * ptrdiff_t(7 - line));
    const SymbolRaster flipped_portable = quantize_luma_bgr_portable(flipped.data() + 7 * 24, -24);
    EXPECT_EQ(flipped_portable.words, want.words);
    EXPECT_EQ(flipped_portable.attributes, want.attributes);
    // The two steps apart give the same: the choice's colours, and its
    // thresholds coding the same pixels.
    const LumaChoice choice = choose_luma_colours(px.data(), 24);
    EXPECT_EQ(choice.attributes, want.attributes);
    EXPECT_EQ(code_luma(px.data(), 24, choice), want.words);
    EXPECT_EQ(code_luma(flipped.data() + 7 * 24, -24, choose_luma_colours(flipped.data() + 7 * 24, -24)), want.words);
    for (const auto& v : fast_quantizers()) {
        SCOPED_TRACE(v.name);
        for (const SymbolRaster& got : {v.quantize(px.data(), 24), v.quantize(flipped.data() + 7 * 24, -24)}) {
            EXPECT_EQ(got.words, want.words);
            EXPECT_EQ(got.attributes, want.attributes);
        }
    }
}

// Every version gives the bytes of the portable one, and so do the choice
// and the coding run apart.
TEST(QuantizeLuma, FastVersionsMatchThePortableOne)
{
    // Symbols that push the sums to their widest, put pixels exactly on a
    // threshold, leave codes empty or halve an odd blue.
    const auto symbol = [](auto f) {
        SymbolBgr s;
        for (size_t j = 0; j < 64; ++j) {
            const Rgb c = f(j);
            s[3 * j] = c.b;
            s[3 * j + 1] = c.g;
            s[3 * j + 2] = c.r;
        }
        return s;
    };
    const struct {
        const char* name;
        SymbolBgr px;
    } cases[] = {
        {"black", symbol([](size_t) { return Rgb{0, 0, 0}; })},
        {"white: every sum at its largest", symbol([](size_t) { return Rgb{255, 255, 255}; })},
        {"one white pixel", symbol([](size_t j) { return j == 37 ? Rgb{255, 255, 255} : Rgb{0, 0, 0}; })},
        {"one black pixel", symbol([](size_t j) { return j == 63 ? Rgb{0, 0, 0} : Rgb{255, 255, 255}; })},
        {"columns", symbol([](size_t j) { return j % 2 ? Rgb{255, 0, 0} : Rgb{0, 0, 255}; })},
        {"lumas 0 1 2 892", symbol([](size_t j) {
             return j < 16 ? Rgb{0, 0, 0} : j < 32 ? Rgb{1, 0, 0} : j < 48 ? Rgb{0, 1, 0} : Rgb{255, 255, 255};
         })},
        {"odd blues", symbol([](size_t j) { return Rgb{0, 0, uint8_t(2 * j + 1)}; })},
        {"ramp", symbol([](size_t j) { return Rgb{uint8_t(4 * j), uint8_t(255 - 4 * j), uint8_t(j)}; })},
        {"equal lumas, other colours", symbol([](size_t j) { return j % 3 ? Rgb{255, 0, 0} : Rgb{1, 127, 0}; })},
    };
    for (const auto& c : cases)
        expect_same_as_portable(c.px, c.name);

    // Random symbols: of any colours, and of two or three values per
    // channel, where ties with the thresholds are common.
    std::mt19937 random(10);
    for (int i = 0; i < 20000; ++i) {
        SymbolBgr px;
        const uint8_t levels[3] = {uint8_t(random()), uint8_t(random()), uint8_t(random())};
        const bool few = i % 2;
        for (uint8_t& b : px)
            b = few ? levels[random() % 3] : uint8_t(random());
        expect_same_as_portable(px, few ? "random, few values" : "random");
        if (HasFailure())
            break;
    }
}
