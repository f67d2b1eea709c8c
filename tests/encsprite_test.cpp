// encsprite: the extreme palette, the listing, the program run as a user runs
// it, and its listings fed to real Z80 assemblers.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>

#include "formats/le.hpp"
#include "formats/bmp.hpp"
#include "formats/listing.hpp"
#include "encode/sprite_output.hpp"
#include "encode/sprite_palette.hpp"
#include "support.hpp"
#include "tests/reference/encoders.hpp"

namespace fs = std::filesystem;

static const std::string kSpr = q(ENCSPRITE_EXE);
static const std::string kDec = q(DECSCREEN_EXE);

// An 8x8 picture (stored order does not matter to the palette) of the given colours, repeated.
static BmpPixels pixels_of(std::initializer_list<Rgb> colours)
{
    BmpPixels b{8, 8, {}};
    for (size_t i = 0; i < 64; ++i) {
        const Rgb c = *(colours.begin() + ptrdiff_t(i % colours.size()));
        b.pixels.insert(b.pixels.end(), {c.b, c.g, c.r});
    }
    return b;
}

TEST(ExtremePalette, FromOneToSixValues)
{
    // RGB332 values, as plain numbers: a (0, 0, 64) is 0x01, (0, 32, 0) is 0x04, and so on.
    const Rgb a{0, 0, 64}, b{0, 32, 0}, c{64, 0, 0}, d{96, 0, 0}, e{160, 0, 0}, f{224, 0, 0};
    struct Case {
        const char* name;
        BmpPixels px;
        ExtremePalette want;
        std::vector<std::pair<Rgb, PixelCode>> codes;
    };
    const Case cases[] = {
        {"one", pixels_of({c}), {0x40, 0x40, 0x40, 0x40}, {{c, 3}}},
        {"two", pixels_of({b, a}), {0x04, 0x01, 0x04, 0x01}, {{a, 3}, {b, 2}}},
        {"three", pixels_of({c, a, b}), {0x40, 0x04, 0x04, 0x01}, {{a, 3}, {b, 2}, {c, 0}}},
        {"four", pixels_of({d, a, c, b}), {0x60, 0x40, 0x04, 0x01}, {{a, 3}, {b, 2}, {c, 1}, {d, 0}}},
        {"six", pixels_of({f, c, a, e, d, b}), {0xE0, 0xA0, 0x04, 0x01},
         {{a, 3}, {b, 2}, {e, 1}, {f, 0}, {c, 0}, {d, 0}}},
        // (1, 2, 3) and (31, 7, 63) both pack to 0x00: one colour here.
        {"same value", pixels_of({{1, 2, 3}, {31, 7, 63}}), {0, 0, 0, 0}, {{{31, 7, 63}, 3}}},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        const ExtremePalette p = select_extreme_palette(t.px);
        EXPECT_EQ(p.mx, t.want.mx);
        EXPECT_EQ(p.hi2, t.want.hi2);
        EXPECT_EQ(p.lo2, t.want.lo2);
        EXPECT_EQ(p.mn, t.want.mn);
        for (const auto& [colour, code] : t.codes)
            EXPECT_EQ(code_for_value(p, pack_rgb332(colour.r, colour.g, colour.b)), code);

        // The program's two-pass conversion, which packs the pixels in place,
        // gives what the palette and the symbol walk give.
        BmpPixels consumed = t.px;
        const ScreenImage fused = encode_sprites(consumed);
        const ScreenImage walked =
            build_screen(t.px, [&](const SymbolPixels& px) { return quantize_symbol_palette(p, px); });
        EXPECT_EQ(fused.raster, walked.raster);
        EXPECT_EQ(fused.attributes, walked.attributes);
    }
}

// The SSSE3 line packer gives the portable one's values, and the same count
// of every value: the palette is made of the values that occur, and the
// warning about merged colours of how many pixels each has.
TEST(PackLine, KernelsAgree)
{
#if VORNE_X86_KERNELS
    std::mt19937 random(5);
    // Each line's BGR bytes from the pixel's index: the extremes in a single
    // lane, late in the line, in the tail past the last 16, or everywhere.
    const struct {
        const char* name;
        std::function<uint8_t(size_t i, size_t n)> value; // the RGB332 value of pixel i of n
    } kinds[] = {
        {"random", [&](size_t, size_t) { return uint8_t(random()); }},
        {"one value", [](size_t, size_t) { return uint8_t(0x6D); }},
        {"0 and 255 once each, late", [](size_t i, size_t n) { return i == n - 3 ? 0 : i == n - 20 ? 255 : 0x80; }},
        {"second smallest and largest in one lane",
         [](size_t i, size_t) { return uint8_t(i % 16 == 5 ? (i / 16 % 2 ? 0x11 : 0xEE) : i % 16 == 9 ? 0x10 : 0xEF); }},
        // By the 16 pixels: the second smallest, the smallest twice, then larger ones.
        {"second smallest first", [](size_t i, size_t) { return uint8_t("\x31\x30\x30\x80"[std::min<size_t>(i / 16, 3)] + (i >= 64)); }},
        {"second largest first", [](size_t i, size_t) { return uint8_t("\xCE\xCF\xCF\x50"[std::min<size_t>(i / 16, 3)] - (i >= 64)); }},
        {"repeats of the extremes", [](size_t i, size_t) { return uint8_t(i % 3 == 0 ? 0x20 : i % 3 == 1 ? 0x21 : 0x22); }},
        {"few values, random", [&](size_t, size_t) { return uint8_t(0x40 + random() % 4); }},
    };
    for (const auto& k : kinds)
        for (size_t n : {0, 1, 15, 16, 17, 31, 32, 33, 47, 48, 100, 4096}) {
            SCOPED_TRACE(std::string(k.name) + ", " + std::to_string(n) + " pixels");
            std::vector<uint8_t> bgr;
            for (size_t i = 0; i < n; ++i) {
                // Any of the 8 x 8 x 4 colours packing to the value, with random low bits.
                const uint8_t v = k.value(i, n), low = uint8_t(random());
                bgr.insert(bgr.end(), {uint8_t((v << 6) | (low & 0x3F)), uint8_t(((v & 0x1C) << 3) | (low & 7)),
                                       uint8_t((v & 0xE0) | (low & 0x1F))});
            }
            std::vector<uint8_t> want(n), got(n);
            ValueCounts all{}, counted{};
            pack_line_portable(bgr.data(), want.data(), n, all);
            pack_line_ssse3(bgr.data(), got.data(), n, counted);
            ASSERT_EQ(got, want);
            std::array<uint64_t, 256> by_hand{};
            for (uint8_t v : want)
                ++by_hand[v];
            EXPECT_EQ(sum_counts(all), by_hand);
            EXPECT_EQ(sum_counts(counted), by_hand);
        }
#else
    GTEST_SKIP() << "the SSSE3 line packer is built only for x86";
#endif
}

// The extreme palette's table gives every value the code of the rule, and
// the SSSE3 and AVX2 word coders give the portable one's words through it, with
// palettes whose values coincide too (a picture of one, two or three values),
// and through tables of any codes, as --perceptual makes them.
TEST(CodeWords, KernelsAgree)
{
    std::mt19937 random(7);
    const ExtremePalette extremes[] = {
        {0xE0, 0xA0, 0x04, 0x01}, {0x40, 0x40, 0x40, 0x40}, {0x04, 0x01, 0x04, 0x01},
        {0x40, 0x04, 0x04, 0x01}, {0xFF, 0x00, 0xFF, 0x00}, {0xFF, 0xFE, 0x01, 0x00},
    };
    std::vector<SpritePalette> palettes;
    for (const ExtremePalette& e : extremes) {
        palettes.push_back(extreme_palette(e));
        for (unsigned v = 0; v < 256; ++v)
            ASSERT_EQ(code_of(palettes.back(), uint8_t(v)), code_for_value(e, uint8_t(v))) << v;
    }
    for (int i = 0; i < 4; ++i) {
        SpritePalette p;
        for (uint8_t& a : p.attributes)
            a = uint8_t(random());
        for (unsigned v = 0; v < 256; ++v)
            set_code(p, uint8_t(v), PixelCode(i == 0 ? 3 : random() % 4));
        palettes.push_back(p);
    }
#if VORNE_X86_KERNELS
    for (const SpritePalette& p : palettes)
        for (size_t n : {0, 1, 2, 3, 17, 1024}) {
            const std::array<uint8_t, 4>& a = p.attributes;
            SCOPED_TRACE(std::to_string(a[0]) + " " + std::to_string(a[1]) + " " + std::to_string(a[2]) + " " +
                         std::to_string(a[3]) + ", " + std::to_string(n) + " words");
            // Mostly the palette's own values, so that every code occurs.
            std::vector<uint8_t> values(8 * n);
            for (uint8_t& v : values) {
                const uint32_t r = random();
                v = r % 5 == 4 ? uint8_t(r >> 8) : a[r % 4];
            }
            std::vector<uint16_t> want(n), got(n), wide(n);
            code_words_portable(values.data(), n, p, want.data());
            code_words_ssse3(values.data(), n, p, got.data());
            EXPECT_EQ(got, want);
            if (cpu_has_avx2()) {
                code_words_avx2(values.data(), n, p, wide.data());
                EXPECT_EQ(wide, want);
            }
            for (size_t i = 0; i < n; ++i)
                for (size_t c = 0; c < 8; ++c)
                    ASSERT_EQ(want[i] >> (14 - 2 * c) & 3, code_of(p, values[8 * i + c])) << i << " " << c;
        }
#else
    GTEST_SKIP() << "the SSSE3 word coder is built only for x86";
#endif
}

// What `write` puts on a stream, which it must report as written.
template <class Write>
static std::string written(Write&& write)
{
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* f = open_memstream(&buf, &len);
    EXPECT_TRUE(write(f));
    std::fclose(f);
    std::string text(buf, len);
    std::free(buf);
    return text;
}

static std::string listing_of(const ScreenImage& s)
{
    return written([&](std::FILE* f) { return write_sprite_listing(f, s); });
}

static std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(SpriteListing, LineByLine)
{
    ScreenImage s = make_screen(16, 8);
    s.raster[0] = 0xC03F;
    s.raster[1] = 0x0001;
    s.attributes = {0xFF, 0x00, 0xFF, 0x00, 0x12, 0xAB, 0x00, 0x9C};
    const auto lines = lines_of(listing_of(s));
    ASSERT_EQ(lines.size(), 5u + 1 + 1 + 16 + 1 + 2);
    EXPECT_EQ(lines[0], ";New ZX screen format (VORNE)");
    EXPECT_EQ(lines[1], ";Converter: bmp sprites (24 bits RGB888) to asm");
    EXPECT_EQ(lines[2], ";Rastr format: 2 bits per pixel");
    EXPECT_EQ(lines[3], ";Attribute format: 4 byte attributes (RGB332) per symbol (8x8 pixs)");
    EXPECT_EQ(lines[4], ";Height = 8; Width = 16");
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(lines[6], "SPR:");
    EXPECT_EQ(lines[7], "\tDEFW\t0C03Fh;");
    EXPECT_EQ(lines[8], "\tDEFW\t00001h;");
    EXPECT_EQ(lines[9], "\tDEFW\t00000h;");
    EXPECT_EQ(lines[23], "ATTR:");
    EXPECT_EQ(lines[24], "\tDEFB\t0FFh,000h,0FFh,000h;");
    EXPECT_EQ(lines[25], "\tDEFB\t012h,0ABh,000h,09Ch;");
}

TEST(Encsprite, BlackAndWhite16x8)
{
    const fs::path dir = scratch_dir();
    // Each line eight white pixels then eight black ones; top-down, to check the height stays positive.
    const Picture p = make_picture(16, 8, [](int x, int) { return x < 8 ? Rgb{255, 255, 255} : Rgb{0, 0, 0}; });
    write_file(dir / "in.bmp", make_bmp(p, {40, 0, true, 0, {'B', 'M'}}));
    const RunResult r = run(kSpr + " " + q(dir / "in.bmp") + " " + q(dir / "out.asm"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    const Bytes b = read_file(dir / "out.asm");
    const auto lines = lines_of(std::string(b.begin(), b.end()));
    ASSERT_EQ(lines.size(), 26u);
    EXPECT_EQ(lines[4], ";Height = 8; Width = 16");
    for (size_t i = 0; i < 16; ++i)
        EXPECT_EQ(lines[7 + i], i % 2 ? "\tDEFW\t0FFFFh;" : "\tDEFW\t0AAAAh;") << i;
    EXPECT_EQ(lines[24], "\tDEFB\t0FFh,000h,0FFh,000h;");
    EXPECT_EQ(lines[25], "\tDEFB\t0FFh,000h,0FFh,000h;");
}

TEST(Encsprite, FailureTable)
{
    const fs::path dir = scratch_dir();
    const Picture p = make_picture(8, 8, [](int x, int) { return Rgb{uint8_t(x * 30), 0, 0}; });
    write_file(dir / "good.bmp", make_bmp(p));
    Bytes eight_bit = make_bmp(p);
    eight_bit[28] = 8;
    write_file(dir / "8bit.bmp", eight_bit);
    write_file(dir / "12x8.bmp", bmp_header(12, 8));
    write_file(dir / "huge.bmp", bmp_header(65528, -65528));
    const fs::path o = dir / "out.asm";
    struct Case {
        const char* name;
        std::string args;
        std::string out, err;
        int status;
    };
    const Case cases[] = {
        {"no arguments", "", "Usage: encsprite <>.bmp <>.txt \n\a", "", 1},
        {"one argument", q(dir / "good.bmp"), "Usage: encsprite <>.bmp <>.txt \n\a", "", 1},
        {"missing input", q(dir / "missing.bmp") + " " + q(o), "bmpfile was not opened\n", "", 1},
        {"8 bits a pixel", q(dir / "8bit.bmp") + " " + q(o), "", "the file is not 24bit bmp \n", 1},
        {"width 12", q(dir / "12x8.bmp") + " " + q(o), "",
         "the picture width and height must be multiples of 8 up to 65528\n", 1},
        {"header alone claiming 65528x65528", q(dir / "huge.bmp") + " " + q(o), "", "bmpfile is truncated\n", 1},
        {"output folder missing", q(dir / "good.bmp") + " " + q(dir / "no" / "x.asm"), "sprfile was not opened\n", "",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult r = run(kSpr + " " + c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(fs::exists(o));
    }
}

// The assemblers that turn a listing into a flat binary, where installed.
struct Assembler {
    const char* name;
    std::string probe, command; // command: {src} and {bin} are replaced
    const char* include;        // the directive that includes another source file
};
static const Assembler kAssemblers[] = {
    {"pasmo", "command -v pasmo", "pasmo --bin {src} {bin}", "INCLUDE"},
    {"z80asm", "command -v z80asm", "z80asm -o {bin} {src}", "include"},
    {"binutils_z80", "command -v z80-unknown-coff-as",
     "z80-unknown-coff-as -o {bin}.o {src} && z80-unknown-coff-objcopy -O binary {bin}.o {bin}", ".include"},
};

// Test names and messages show the assembler by name, not as bytes.
static void PrintTo(const Assembler& a, std::ostream* os) { *os << a.name; }

static std::string fill(std::string s, const fs::path& src, const fs::path& bin)
{
    for (auto [key, value] : {std::pair<std::string, std::string>{"{src}", q(src)}, {"{bin}", q(bin)}})
        for (size_t at; (at = s.find(key)) != std::string::npos;)
            s.replace(at, key.size(), value);
    return s;
}

// What an assembled listing of the BMP must hold: the screen's raster words,
// little-endian, then its attribute bytes, from the symbol walk rather than
// the program's line coder.
static Bytes assembled_bytes_of(const fs::path& bmp_path)
{
    BmpPixels bmp;
    EXPECT_EQ(load_bmp24(bmp_path.c_str(), bmp), BmpError::ok);
    const ExtremePalette pal = select_extreme_palette(bmp);
    const ScreenImage screen = build_screen(bmp, [&](const SymbolPixels& px) { return quantize_symbol_palette(pal, px); });
    Bytes want(2 * screen.raster.size());
    for (size_t i = 0; i < screen.raster.size(); ++i)
        put_le16(want, 2 * i, screen.raster[i]);
    want.insert(want.end(), screen.attributes.begin(), screen.attributes.end());
    return want;
}

TEST(Encsprite, RealAssemblersAndDecscreen)
{
    const fs::path dir = scratch_dir();
    // Pictures of at most four RGB332 values (lossless) and one of six (not).
    const Rgb colours[] = {{0, 0, 0}, {255, 255, 255}, {200, 30, 90}, {20, 160, 250}, {90, 90, 0}, {255, 0, 0}};
    struct Sprite {
        const char* name;
        int w, h, ncolours;
    };
    const Sprite sprites[] = {{"one colour", 8, 8, 1}, {"two", 16, 8, 2}, {"four", 24, 16, 4}, {"six", 16, 16, 6}};
    int ran = 0;
    for (const auto& sp : sprites) {
        SCOPED_TRACE(sp.name);
        const Picture p =
            make_picture(sp.w, sp.h, [&](int x, int y) { return colours[size_t((x * 3 + y * 5 + x * y) % sp.ncolours)]; });
        write_file(dir / "in.bmp", make_bmp(p));
        ASSERT_EQ(run(kSpr + " " + q(dir / "in.bmp") + " " + q(dir / "in.asm")).status, 0);
        const Bytes want = assembled_bytes_of(dir / "in.bmp");
        BmpPixels bmp;
        ASSERT_EQ(load_bmp24((dir / "in.bmp").c_str(), bmp), BmpError::ok);
        const ExtremePalette pal = select_extreme_palette(bmp);
        for (const auto& as : kAssemblers) {
            SCOPED_TRACE(as.name);
            if (run(as.probe).status != 0)
                continue;
            ++ran;
            fs::remove(dir / "out.bin");
            const RunResult r = run(fill(as.command, dir / "in.asm", dir / "out.bin"));
            ASSERT_EQ(r.status, 0) << r.out << r.err;
            const Bytes bin = read_file(dir / "out.bin");
            ASSERT_EQ(bin, want);

            // Behind a screen header, decscreen shows the picture, exactly where it has at most four values.
            Bytes scn = make_scn(uint16_t(sp.w), uint16_t(sp.h), [&](size_t i) { return bin[i]; });
            write_file(dir / "out.scn", scn);
            ASSERT_EQ(run(kDec + " " + q(dir / "out.scn") + " " + q(dir / "out.bmp")).status, 0);
            const Bytes back = read_file(dir / "out.bmp");
            for (int y = 0; y < sp.h; ++y)
                for (int x = 0; x < sp.w; ++x) {
                    const Rgb c = p.at(x, y);
                    uint8_t v = pack_rgb332(c.r, c.g, c.b);
                    if (sp.ncolours > 4 && code_for_value(pal, v) == 0)
                        v = pal.mx; // outside the palette: shown as mx
                    const std::array<uint8_t, 3> e = screen_rgb(v);
                    ASSERT_EQ(bmp_pixel(back, x, y), (Rgb{e[0], e[1], e[2]})) << x << "," << y;
                }
        }
    }
    if (ran == 0)
        GTEST_SKIP() << "no Z80 assembler installed (pasmo, z80asm, binutils-z80)";
}

TEST(OutputNames, LabelPrefixesAndScreenFiles)
{
    for (const std::string& ok : std::vector<std::string>{"ship", "_rock2", "A_b_9", std::string(32, 'x')})
        EXPECT_TRUE(valid_label_prefix(ok)) << ok;
    for (const std::string& bad :
         std::vector<std::string>{"", "2ship", std::string(33, 'x'), "my-ship", "sch\xC3\xBC" "ff", "ship:", "a b"})
        EXPECT_FALSE(valid_label_prefix(bad)) << bad;
    for (const char* yes : {"a.scn", "A.SCN", "dir/x.Scn"})
        EXPECT_TRUE(wants_screen_output(yes)) << yes;
    for (const char* no : {"-", "scn", "a.asm", "a.scn.asm", "a.scn/x.asm"})
        EXPECT_FALSE(wants_screen_output(no)) << no;
}

// A SpritePicture as the program reads it, from a BMP file.
static SpritePicture sprites_of(const fs::path& bmp)
{
    SpritePicture sp;
    EXPECT_EQ(load_sprites(bmp.string().c_str(), sp), PictureError::ok);
    return sp;
}

TEST(SpriteListing, PrefixChangesOnlyTheLabels)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "in.bmp", make_bmp(photo_picture(24, 16)));
    const SpritePicture sp = sprites_of(dir / "in.bmp");
    std::string want = written([&](std::FILE* f) { return write_sprite_listing(f, sp); });
    for (const char* label : {"SPR:\n", "ATTR:\n"})
        want.insert(want.find(std::string("\n") + label) + 1, "ship_");
    EXPECT_EQ(written([&](std::FILE* f) { return write_sprite_listing(f, sp, "ship"); }), want);
}

// Each assembler in turn, skipped with a message where it is not installed.
class Assembled : public ::testing::TestWithParam<Assembler> {
protected:
    void SetUp() override
    {
        if (run(GetParam().probe).status != 0)
            GTEST_SKIP() << GetParam().name << " is not installed";
    }
    // Writes the listing of dir/NAME.bmp, labelled with `prefix`, to
    // dir/NAME.asm through the library; returns the line that includes it.
    std::string listing(const std::string& name, std::string_view prefix)
    {
        const fs::path src = dir / (name + ".asm");
        std::FILE* f = std::fopen(src.string().c_str(), "w");
        EXPECT_TRUE(f && write_sprite_listing(f, sprites_of(dir / (name + ".bmp")), prefix));
        std::fclose(f);
        return std::string(GetParam().include) + " \"" + src.string() + "\"\n";
    }
    Bytes assemble(const std::string& program)
    {
        write_file(dir / "main.asm", Bytes(program.begin(), program.end()));
        fs::remove(dir / "out.bin");
        const RunResult r = run(fill(GetParam().command, dir / "main.asm", dir / "out.bin"));
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        return r.status == 0 ? read_file(dir / "out.bin") : Bytes{};
    }
    const fs::path dir = scratch_dir();
};
INSTANTIATE_TEST_SUITE_P(Z80, Assembled, ::testing::ValuesIn(kAssemblers),
                         [](const auto& info) { return std::string(info.param.name); });

// Two sheets with labels of their own in one program: each one's bytes in
// turn, and the labels where those bytes lie.
TEST_P(Assembled, TwoPrefixedListingsInOneProgram)
{
    const Picture ship = make_picture(16, 8, [](int x, int y) { return Rgb{uint8_t(x * 16), 0, uint8_t(y * 30)}; });
    write_file(dir / "ship.bmp", make_bmp(ship));
    write_file(dir / "rock.bmp", make_bmp(photo_picture(8, 16)));
    Bytes want = assembled_bytes_of(dir / "ship.bmp"), rock = assembled_bytes_of(dir / "rock.bmp");
    want.insert(want.end(), rock.begin(), rock.end());
    // _rock2_SPR follows ship's 16 words and 2 symbols; ship_ATTR follows its words.
    want.insert(want.end(), {2 * 16 + 4 * 2, 0, 2 * 16, 0});
    EXPECT_EQ(assemble(listing("ship", "ship") + listing("rock", "_rock2") + "\tDEFW\t_rock2_SPR\n\tDEFW\tship_ATTR\n"),
              want);
}

// encsprite's screen file is the screen header and what the assembled
// listing holds, byte for byte, whichever way the BMP stores its lines.
TEST_P(Assembled, ScreenFileIsHeaderAndAssembledListing)
{
    const Rgb four[] = {{0, 0, 0}, {255, 255, 255}, {200, 30, 90}, {20, 160, 250}};
    const Picture sheet = make_picture(24, 16, [&](int x, int y) { return four[size_t((x * 3 + y * 5 + x * y) % 4)]; });
    const std::pair<const char*, Bytes> cases[] = {
        {"four colours, bottom-up", make_bmp(sheet)},
        {"four colours, top-down", make_bmp(sheet, {40, 0, true, 0, {'B', 'M'}})},
        {"photo-like, bottom-up", make_bmp(photo_picture(64, 40))},
        {"photo-like, top-down", make_bmp(photo_picture(64, 40), {124, 0, true, 0, {'B', 'M'}})},
    };
    for (const auto& [name, bmp] : cases) {
        SCOPED_TRACE(name);
        write_file(dir / "in.bmp", bmp);
        const Bytes bin = assemble(listing("in", {}));
        const SpritePicture sp = sprites_of(dir / "in.bmp");
        Bytes want = {'S', 'C', 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 16, 0, 2, 0};
        put_le16(want, 8, uint16_t(sp.width));
        put_le16(want, 10, uint16_t(sp.height));
        want.insert(want.end(), bin.begin(), bin.end());
        const std::string got = written([&](std::FILE* f) { return write_sprite_screen(f, sp); });
        EXPECT_EQ(Bytes(got.begin(), got.end()), want);
    }
}
