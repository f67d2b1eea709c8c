// The screen model, the luminance quantizer and the screen file format.
#include <gtest/gtest.h>

#include <cstdio>

#include "formats/scnfile.hpp"
#include "formats/screen.hpp"
#include "pipeline/walk.hpp"
#include "encode/quantize_luma.hpp"
#include "support.hpp"
#include "tests/reference/encoders.hpp"

TEST(Rgb332, PacksTopBitsTruncated)
{
    EXPECT_EQ(pack_rgb332(255, 255, 255), 0xFF);
    EXPECT_EQ(pack_rgb332(0, 0, 255), 0x03);
    EXPECT_EQ(pack_rgb332(255, 0, 0), 0xE0);
    EXPECT_EQ(pack_rgb332(0, 255, 0), 0x1C);
    EXPECT_EQ(pack_rgb332(0x1F, 0x1F, 0x3F), 0x00);
}

// A symbol made of groups of identical pixels, in entry order.
static SymbolPixels symbol_of(std::initializer_list<std::pair<int, Rgb>> groups)
{
    SymbolPixels p{};
    size_t j = 0;
    for (auto [count, c] : groups)
        for (int i = 0; i < count; ++i, ++j) {
            p.r[j] = c.r;
            p.g[j] = c.g;
            p.b[j] = c.b;
        }
    EXPECT_EQ(j, 64u);
    return p;
}

struct QuantizeCase {
    const char* name;
    SymbolPixels pixels;
    std::array<uint8_t, 4> attributes;
    std::vector<PixelCode> group_codes; // code of each group, groups of equal size
};

TEST(QuantizeLuma, WorkedSymbols)
{
    const Rgb black{0, 0, 0}, white{255, 255, 255}, red{255, 0, 0}, blue{0, 0, 255};
    // Lumas 0, 1, 2 and 892: (0,0,0), (1,0,0), (0,1,0), white.
    const QuantizeCase cases[] = {
        {"uniform", symbol_of({{64, {90, 160, 30}}}), {0, 0, 0, pack_rgb332(90, 160, 30)}, {3}},
        {"black and white", symbol_of({{32, white}, {32, black}}), {0x00, 0x00, 0x00, 0xFF}, {3, 1}},
        {"red and blue", symbol_of({{32, red}, {32, blue}}), {0x00, 0x03, 0x00, 0xE0}, {3, 1}},
        {"four greys",
         symbol_of({{16, {0, 0, 0}}, {16, {40, 40, 40}}, {16, {80, 80, 80}}, {16, {120, 120, 120}}}),
         {0x00, 0x24, 0x49, 0x6D},
         {0, 1, 2, 3}},
        {"lumas 0 1 2 892", symbol_of({{16, {0, 0, 0}}, {16, {1, 0, 0}}, {16, {0, 1, 0}}, {16, white}}),
         {0x00, 0x00, 0x00, 0xFF},
         {0, 1, 1, 3}},
        // Red and (1, 127, 0) both have luma 255: one code, one averaged colour.
        {"equal luma shares a code", symbol_of({{16, red}, {16, {1, 127, 0}}, {32, black}}),
         {0x00, 0x00, 0x00, pack_rgb332(128, 63, 0)},
         {3, 3, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SymbolCodes q = quantize_symbol_luma(c.pixels);
        EXPECT_EQ(q.attributes, c.attributes);
        const size_t group = 64 / c.group_codes.size();
        for (size_t j = 0; j < 64; ++j)
            ASSERT_EQ(q.codes[j], c.group_codes[j / group]) << "entry " << j;
    }
}

TEST(QuantizeLuma, DivisionByMultiplicationIsExact)
{
    // Every quotient the quantizer takes: sums below 2^16, counts 1 .. 64.
    for (uint32_t d = 1; d <= 64; ++d)
        for (uint32_t s = 0; s < 65536; ++s)
            ASSERT_EQ(divide_small(s, d), s / d) << s << " / " << d;
}

TEST(ScreenModel, RasterPlacement)
{
    // Code 3 at column 0 is the top two bits, code 1 at column 7 the bottom one.
    EXPECT_EQ(raster_bits(3, 0), 0xC000);
    EXPECT_EQ(raster_bits(1, 7), 0x0001);

    // A symbol's entries run from its bottom line up; the screen runs top-down.
    SymbolCodes q{{1, 2, 3, 4}, {}};
    q.codes[0] = 3;         // bottom line, column 0
    q.codes[8 * 7 + 7] = 1; // top line, column 7
    ScreenImage s = make_screen(16, 8);
    const uint8_t band[48] = {};
    encode_band(s, 0, band, 0, 3, [&](const uint8_t* px, ptrdiff_t) {
        return px == band ? SymbolRaster{} : raster_of(q); // symbol 0 gets nothing, symbol 1 the codes
    });
    EXPECT_EQ(s.raster[7 * 2 + 1], 0xC000);
    EXPECT_EQ(s.raster[0 * 2 + 1], 0x0001);
    EXPECT_EQ(s.raster[0], 0);
    EXPECT_EQ(s.attributes, (Bytes{0, 0, 0, 0, 1, 2, 3, 4}));
}

TEST(ScreenModel, ReverseSymbolRowsMovesWholeRows)
{
    ScreenImage s = make_screen(8, 24);
    for (size_t i = 0; i < 24; ++i)
        s.raster[i] = uint16_t(i);
    for (size_t i = 0; i < 12; ++i)
        s.attributes[i] = uint8_t(i);
    reverse_symbol_rows(s, 3);
    // Eight lines move together and keep their order, as do a row's attribute bytes.
    for (size_t i = 0; i < 24; ++i)
        EXPECT_EQ(s.raster[i], (2 - i / 8) * 8 + i % 8) << i;
    EXPECT_EQ(s.attributes, (Bytes{8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3}));
}

static Bytes screen_bytes(const ScreenImage& s)
{
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* f = open_memstream(&buf, &len);
    EXPECT_TRUE(write_screen_file(f, s));
    std::fclose(f);
    Bytes b(buf, buf + len);
    std::free(buf);
    return b;
}

// Reads from memory as from a pipe: no size known, read in steps.
static bool read_screen_bytes(const Bytes& b, ScreenImage& s, ScnError want = ScnError::ok)
{
    std::FILE* f = fmemopen(const_cast<uint8_t*>(b.data()), b.size(), "rb");
    Input in{f, kUnknownSize};
    const ScnError e = read_screen_file(in, s);
    close_input(in);
    EXPECT_TRUE(e == ScnError::ok || e == want);
    return e == ScnError::ok;
}

TEST(ScreenFile, LayoutAndRoundTrip)
{
    ScreenImage s = make_screen(16, 16);
    for (size_t i = 0; i < s.raster.size(); ++i)
        s.raster[i] = uint16_t(0x0102 * i + 0xC03F);
    for (size_t i = 0; i < s.attributes.size(); ++i)
        s.attributes[i] = uint8_t(200 + i);
    const Bytes b = screen_bytes(s);
    ASSERT_EQ(b.size(), 96u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 16),
              (Bytes{0x53, 0x43, 0, 0, 0, 0, 0x10, 0, 0x10, 0, 0x10, 0, 0x10, 0, 0x02, 0}));
    EXPECT_EQ(b[16], 0x3F); // words are little-endian
    EXPECT_EQ(b[17], 0xC0);
    EXPECT_EQ(b[80], 200);

    ScreenImage back;
    ASSERT_TRUE(read_screen_bytes(b, back));
    EXPECT_EQ(back.width, 16u);
    EXPECT_EQ(back.height, 16u);
    EXPECT_EQ(back.raster, s.raster);
    EXPECT_EQ(back.attributes, s.attributes);

    // Trailing bytes are ignored; every shorter file is refused.
    Bytes longer = b;
    longer.push_back(7);
    EXPECT_TRUE(read_screen_bytes(longer, back));
    for (size_t len = 0; len < b.size(); ++len)
        EXPECT_FALSE(read_screen_bytes(Bytes(b.begin(), b.begin() + ptrdiff_t(len)), back, ScnError::truncated)) << len;
}

TEST(ScreenFile, ScreensWithoutSymbolsRoundTrip)
{
    // No attribute bytes at all, and for the narrow ones no raster either:
    // found by fuzzing, when an empty array reached fwrite as a null pointer.
    for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{5, 3}, {12, 5}, {7, 65535}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        ScreenImage s = make_screen(w, h);
        for (size_t i = 0; i < s.raster.size(); ++i)
            s.raster[i] = uint16_t(0x1234 + i);
        const Bytes b = screen_bytes(s);
        ASSERT_EQ(b.size(), screen_file_size(w, h));
        ScreenImage back;
        ASSERT_TRUE(read_screen_bytes(b, back));
        EXPECT_EQ(back.width, w);
        EXPECT_EQ(back.height, h);
        EXPECT_EQ(back.raster, s.raster);
        EXPECT_TRUE(back.attributes.empty());
    }
}

TEST(ScreenFile, ZeroWidthOrHeightIsNoScreen)
{
    // What a BMP, a PNG or /dev/zero holds at offsets 8 and 10: refused by
    // the header alone, though the bytes that follow would fill the body.
    for (const auto& [w, h] : {std::pair<uint16_t, uint16_t>{0, 0}, {0, 9}, {9, 0}}) {
        Bytes b = make_scn(w, h, [](size_t) { return 0; });
        b.resize(1000, 0);
        ScreenImage back;
        EXPECT_FALSE(read_screen_bytes(b, back, ScnError::not_screen)) << w << "x" << h;
    }
}

TEST(ScreenFile, FileSize)
{
    EXPECT_EQ(screen_file_size(256, 192), 16u + 12288 + 3072);
    EXPECT_EQ(screen_file_size(8, 8), 36u);
    EXPECT_EQ(screen_file_size(65535, 65535), 16u + 2ull * 8191 * 65535 + 4ull * 8191 * 8191);
}
