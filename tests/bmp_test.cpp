// The BMP reader and the symbol walk, in process.
#include <gtest/gtest.h>

#include <cstdio>

#include "formats/le.hpp"
#include "support.hpp"
#include "tests/reference/screen.hpp"

// Reads from memory with no size known, as from a pipe.
static BmpError read_bmp_bytes(const Bytes& b, BmpPixels& out)
{
    std::FILE* f = fmemopen(const_cast<uint8_t*>(b.data()), b.size(), "rb");
    Input in{f, kUnknownSize};
    const BmpError e = read_bmp24(in, out);
    close_input(in);
    return e;
}

// Asymmetric: distinct red and blue, so swapped channels, flipped lines and
// misplaced symbols all show.
static Picture asymmetric(int w, int h)
{
    return make_picture(w, h, [](int x, int y) { return Rgb{uint8_t(x * 9 + 1), uint8_t(y * 5 + 2), uint8_t(x * y + 3)}; });
}

TEST(BmpReader, LoadsBottomUpWhateverTheLayout)
{
    const Picture p = asymmetric(16, 24);
    BmpPixels plain;
    ASSERT_EQ(read_bmp_bytes(make_bmp(p), plain), BmpError::ok);
    ASSERT_EQ(plain.w, 16);
    ASSERT_EQ(plain.h, 24);
    // Stored line 0 is the picture's bottom line; blue, green, red.
    const Rgb bottom_left = p.at(0, 23);
    EXPECT_EQ(plain.pixels[0], bottom_left.b);
    EXPECT_EQ(plain.pixels[1], bottom_left.g);
    EXPECT_EQ(plain.pixels[2], bottom_left.r);

    struct Variant {
        const char* name;
        BmpLayout layout;
    };
    const Variant variants[] = {
        {"108-byte header", {108, 0, false, 0, {'B', 'M'}}},
        {"124-byte header", {124, 0, false, 0, {'B', 'M'}}},
        {"gap before pixels", {40, 1024, false, 0, {'B', 'M'}}},
        {"top-down", {40, 0, true, 0, {'B', 'M'}}},
        {"top-down, 124-byte header", {124, 0, true, 0, {'B', 'M'}}},
        {"bit fields", {40, 0, false, 3, {'B', 'M'}}},
        {"bit fields in a 124-byte header", {124, 0, false, 3, {'B', 'M'}}},
        {"wrong signature", {40, 0, false, 0, {'X', 'Y'}}},
        {"OS/2 core header", {12, 0, false, 0, {'B', 'M'}}},
        {"OS/2 core header, gap before pixels", {12, 40, false, 0, {'B', 'M'}}},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        BmpPixels got;
        ASSERT_EQ(read_bmp_bytes(make_bmp(p, v.layout), got), BmpError::ok);
        EXPECT_EQ(got.w, plain.w);
        EXPECT_EQ(got.h, plain.h);
        EXPECT_EQ(got.pixels, plain.pixels);
    }
}

TEST(BmpReader, LargePictureThroughAPipe)
{
    // Over a megabyte, read in pieces whose ends fall inside lines of 3000 bytes.
    const Picture p = asymmetric(1000, 400);
    BmpPixels plain, top_down, from_file;
    ASSERT_EQ(read_bmp_bytes(make_bmp(p), plain), BmpError::ok);
    ASSERT_EQ(read_bmp_bytes(make_bmp(p, {40, 0, true, 0, {'B', 'M'}}), top_down), BmpError::ok);
    const auto path = scratch_dir() / "top-down.bmp";
    write_file(path, make_bmp(p, {40, 0, true, 0, {'B', 'M'}}));
    ASSERT_EQ(load_bmp24(path.string().c_str(), from_file), BmpError::ok);
    ASSERT_EQ(plain.pixels.size(), 3u * 1000 * 400);
    EXPECT_TRUE(top_down.pixels == plain.pixels);
    EXPECT_TRUE(from_file.pixels == plain.pixels);
    const Rgb top_right = p.at(999, 0);
    EXPECT_EQ(plain.pixels[plain.pixels.size() - 1], top_right.r);
}

TEST(BmpReader, RefusesInOrder)
{
    const Bytes good = make_bmp(asymmetric(8, 8));
    auto with = [&](size_t off, std::initializer_list<uint8_t> bytes) {
        Bytes b = good;
        std::copy(bytes.begin(), bytes.end(), b.begin() + ptrdiff_t(off));
        return b;
    };
    struct Case {
        const char* name;
        Bytes file;
        BmpError want;
    };
    auto swapped_masks = [&](uint32_t info_size, uint32_t red, uint32_t blue) {
        BmpLayout l{info_size, 0, false, 3, {'B', 'M'}};
        l.masks[0] = red;
        l.masks[2] = blue;
        return make_bmp(asymmetric(8, 8), l);
    };
    Bytes os2 = make_bmp(asymmetric(8, 8), {12, 0, false, 0, {'B', 'M'}});
    auto os2_with = [&](size_t off, uint16_t v) {
        Bytes b = os2;
        put_le16(b, off, v);
        return b;
    };
    Bytes masks_before_pixels = bmp_header(8, 8, 24, 3, 54);
    masks_before_pixels.resize(54 + 192, 0);
    const Bytes png_signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    const Case cases[] = {
        {"empty", {}, BmpError::not_24bit},
        {"53 bytes", Bytes(good.begin(), good.begin() + 53), BmpError::not_24bit},
        {"8 bits a pixel", with(28, {8, 0}), BmpError::not_24bit},
        {"32 bits a pixel", with(28, {32, 0}), BmpError::not_24bit},
        {"run-length compressed", with(30, {1, 0, 0, 0}), BmpError::not_24bit},
        {"bad compression and bad size", bmp_header(7, 8, 24, 1), BmpError::not_24bit},
        {"width 0", bmp_header(0, 8), BmpError::bad_size},
        {"width 12", bmp_header(12, 8), BmpError::bad_size},
        {"height 4", bmp_header(8, 4), BmpError::bad_size},
        {"negative width", bmp_header(-8, 8), BmpError::bad_size},
        {"width 65536", bmp_header(65536, 8), BmpError::bad_size},
        {"height -2^31", bmp_header(8, INT32_MIN), BmpError::bad_size},
        {"bad size before truncation", bmp_header(9, 8), BmpError::bad_size},
        {"largest, no pixels", bmp_header(65528, -65528), BmpError::truncated},
        {"one byte short", Bytes(good.begin(), good.end() - 1), BmpError::truncated},
        {"gap past the end", bmp_header(8, 8, 24, 0, 100000), BmpError::truncated},
        // Masks that would swap the channels are refused, not converted wrongly.
        {"bit fields, red and blue swapped", swapped_masks(40, 0x000000FF, 0x00FF0000), BmpError::not_24bit},
        {"bit fields in a 124-byte header, swapped", swapped_masks(124, 0x000000FF, 0x00FF0000), BmpError::not_24bit},
        {"bit fields, 16-bit masks", swapped_masks(40, 0x0000F800, 0x0000001F), BmpError::not_24bit},
        {"bit fields, pixels where the masks would be", masks_before_pixels, BmpError::not_24bit},
        {"bit fields, file ends in the masks", bmp_header(8, 8, 24, 3, 66), BmpError::truncated},
        {"OS/2, 8 bits a pixel", os2_with(24, 8), BmpError::not_24bit},
        {"OS/2, width 12", os2_with(18, 12), BmpError::bad_size},
        {"OS/2, height 0", os2_with(20, 0), BmpError::bad_size},
        {"OS/2, 25 bytes", Bytes(os2.begin(), os2.begin() + 25), BmpError::not_24bit},
        {"OS/2, one byte short", Bytes(os2.begin(), os2.end() - 1), BmpError::truncated},
        {"PNG that does not decode", png_signature, BmpError::png_damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BmpPixels got;
        EXPECT_EQ(read_bmp_bytes(c.file, got), c.want);
    }
}

TEST(BmpReader, OffsetBelowHeaderIsTakenAs54)
{
    const Picture p = asymmetric(8, 8);
    Bytes b = make_bmp(p);
    b[10] = 14; // points into the headers
    BmpPixels a, want;
    ASSERT_EQ(read_bmp_bytes(b, a), BmpError::ok);
    ASSERT_EQ(read_bmp_bytes(make_bmp(p), want), BmpError::ok);
    EXPECT_EQ(a.pixels, want.pixels);
}

TEST(SymbolWalk, TopLeftSymbolOf16x16LandsAtSymbolZero)
{
    // The top-left 8x8 is stored in lines 8..15, the second half of the array.
    const Picture p = make_picture(16, 16, [](int x, int y) {
        return x < 8 && y < 8 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
    });
    BmpPixels bmp;
    ASSERT_EQ(read_bmp_bytes(make_bmp(p), bmp), BmpError::ok);
    const SymbolPixels top_left = gather_symbol(bmp, 0, 1);
    for (size_t j = 0; j < 64; ++j)
        ASSERT_EQ(top_left.r[j], 255);

    // A quantizer that tags each symbol with the red of its first pixel.
    const ScreenImage s = build_screen(bmp, [](const SymbolPixels& sp) {
        SymbolCodes q{{sp.r[0], 0, 0, 0}, {}};
        q.codes.fill(sp.r[0] ? 3 : 1);
        return q;
    });
    EXPECT_EQ(s.attributes, (Bytes{255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    for (size_t y = 0; y < 16; ++y) {
        EXPECT_EQ(s.raster[2 * y], y < 8 ? 0xFFFF : 0x5555) << y;
        EXPECT_EQ(s.raster[2 * y + 1], 0x5555) << y;
    }
}
