// Transparent pixels in encsprite: they take no colour of the palette, get
// code 0 and a mask after the attributes, in every kind of output; a picture
// without transparent pixels gives the bytes of the same picture as a BMP.
// Then the warning's counts, and the transparency through --pad and --fit.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "png_support.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kSpr = q(ENCSPRITE_EXE);

struct Rgba {
    uint8_t r, g, b, a;
};

// A sheet of two 8x8 sprites: a dark outline round a white (left) or red
// (right) middle, on a magenta background that is transparent where alpha
// says so.
enum Part { background, outline, middle };
Part part_at(int x, int y)
{
    const int sx = x % 8;
    if (sx < 1 || sx > 6 || y < 1 || y > 6)
        return background;
    return sx == 1 || sx == 6 || y == 1 || y == 6 ? outline : middle;
}
const Rgb kMagenta{255, 0, 255}, kDark{32, 32, 32}, kWhite{255, 255, 255}, kRed{255, 0, 0};
Rgb colour_at(int x, int y)
{
    const Part p = part_at(x, y);
    return p == background ? kMagenta : p == outline ? kDark : x < 8 ? kWhite : kRed;
}

// The sheet as a PNG of the given colour type, the background's alpha (or
// tRNS) as given; 256 for none at all.
PngContent sheet_png(uint8_t colour_type, unsigned background_alpha, bool interlaced = false)
{
    PngContent s;
    s.w = 16;
    s.h = 8;
    s.colour_type = colour_type;
    s.interlaced = interlaced;
    const Rgb palette[] = {kMagenta, kDark, kWhite, kRed};
    if (colour_type == 3) {
        for (const Rgb& c : palette)
            s.plte.insert(s.plte.end(), {c.r, c.g, c.b});
        if (background_alpha < 256)
            s.trns = {uint8_t(background_alpha)};
        else
            s.plte.insert(s.plte.end(), {1, 2, 3}); // a fifth entry, never used
    }
    if (colour_type == 2 && background_alpha == 0)
        s.trns = {0, kMagenta.r, 0, kMagenta.g, 0, kMagenta.b};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            const Rgb c = colour_at(x, y);
            const bool bg = part_at(x, y) == background;
            if (colour_type == 3) {
                const Part p = part_at(x, y);
                s.samples.push_back(uint16_t(p == background ? 0 : p == outline ? 1 : x < 8 ? 2 : 3));
            } else {
                s.samples.insert(s.samples.end(), {c.r, c.g, c.b});
                if (colour_type == 6)
                    s.samples.push_back(uint16_t(bg ? background_alpha : 255));
            }
        }
    return s;
}

// The same sheet's pixels as encsprite sees them: shown over black where
// the alpha (below 256) makes them so.
Picture sheet_pixels(unsigned background_alpha)
{
    return make_picture(16, 8, [&](int x, int y) {
        const Rgb c = colour_at(x, y);
        if (part_at(x, y) != background || background_alpha >= 256)
            return c;
        const unsigned a = background_alpha;
        return Rgb{uint8_t(c.r * a / 255), uint8_t(c.g * a / 255), uint8_t(c.b * a / 255)};
    });
}

// The raw output (raster, attributes, mask) the sheet should give with
// --sprite 8x8: the values 0x24 (outline), 0xE0 (red), 0xFF (white) make the
// palette FF, E0, E0, 24; the outline is code 3, red 2, white 0, and the
// background 0 with the mask's 11.
Bytes expected_sheet_bin()
{
    Bytes raster, mask;
    for (int sprite = 0; sprite < 2; ++sprite)
        for (int y = 0; y < 8; ++y) {
            unsigned word = 0, m = 0;
            for (int sx = 0; sx < 8; ++sx) {
                const int x = 8 * sprite + sx;
                const Part p = part_at(x, y);
                word = word << 2 | (p == outline ? 3u : p == middle && x >= 8 ? 2u : 0u);
                m = m << 2 | (p == background ? 3u : 0u);
            }
            raster.insert(raster.end(), {uint8_t(word), uint8_t(word >> 8)});
            mask.insert(mask.end(), {uint8_t(m), uint8_t(m >> 8)});
        }
    Bytes out = raster;
    for (int symbol = 0; symbol < 2; ++symbol)
        out.insert(out.end(), {0xFF, 0xE0, 0xE0, 0x24});
    out.insert(out.end(), mask.begin(), mask.end());
    return out;
}

std::string text_of(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The pixels a raw output's mask marks transparent, line by line across a
// w x h picture (not cut into sprites); empty where it has no mask.
std::vector<bool> mask_of(const Bytes& bin, int w, int h)
{
    const size_t n = size_t(w / 8), words = n * size_t(h), at = 2 * words + 4 * n * size_t(h / 8);
    if (bin.size() != at + 2 * words)
        return {};
    std::vector<bool> clear;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * n + size_t(x / 8);
            const unsigned word = bin[at + 2 * i] | bin[at + 2 * i + 1] << 8;
            clear.push_back((word >> (14 - 2 * (x % 8)) & 3) == 3);
        }
    return clear;
}

} // namespace

// Sheets whose background is transparent by an alpha channel, a palette's
// tRNS or an RGB tRNS colour: the outline keeps its own code, the background
// is code 0 under a mask of 11, and the palette is the opaque pixels'. Sheets
// without a transparent pixel (no alpha, a tRNS entry no pixel uses, alpha
// of half or more) give what the same pixels give as a BMP.
TEST(Transparency, SheetsWithAndWithoutTransparentPixels)
{
    const fs::path dir = scratch_dir();
    const struct {
        const char* name;
        PngContent png;
        bool transparent;
        unsigned alpha; // of the background as encsprite sees it, 256 for none
    } cases[] = {
        {"RGBA", sheet_png(6, 0), true, 0},
        {"RGBA, alpha 127", sheet_png(6, 127), true, 127},
        {"RGBA, interlaced", sheet_png(6, 0, true), true, 0},
        {"palette, tRNS", sheet_png(3, 0), true, 0},
        {"RGB, tRNS colour", sheet_png(2, 0), true, 0},
        {"RGB", sheet_png(2, 256), false, 256},
        {"palette, tRNS no pixel uses", [] {
             PngContent s = sheet_png(3, 256);
             s.trns = {255, 255, 255, 255, 0};
             return s;
         }(), false, 256},
        {"RGBA, alpha 128", sheet_png(6, 128), false, 128},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir / "in.png", encode_png(c.png));
        const std::string in = q(dir / "in.png") + " ";
        ASSERT_EQ(run(kSpr + " --sprite 8x8 --format bin " + in + q(dir / "png.bin")).status, 0);
        if (c.transparent) {
            EXPECT_EQ(read_file(dir / "png.bin"), expected_sheet_bin());
            continue;
        }
        write_file(dir / "in.bmp", make_bmp(sheet_pixels(c.alpha)));
        for (const char* kind : {"bin", "asm", "c", "sdas"}) {
            SCOPED_TRACE(kind);
            const std::string k = std::string(" --sprite 8x8 --format ") + kind + " ";
            ASSERT_EQ(run(kSpr + k + in + q(dir / "png.out")).status, 0);
            ASSERT_EQ(run(kSpr + k + q(dir / "in.bmp") + " " + q(dir / "bmp.out")).status, 0);
            EXPECT_EQ(read_file(dir / "png.out"), read_file(dir / "bmp.out"));
        }
    }
}

// The mask in every kind, under the --prefix names: the listing's DEFW under
// hero_MASK:, C's array with its declaration and size, sdas's global label;
// C compiled on the host gives back the raw file's bytes. A screen file has
// no room for it: a warning, and the transparent pixels are code 0.
TEST(Transparency, EveryKindCarriesTheMask)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "in.png", encode_png(sheet_png(6, 0)));
    const std::string in = " --sprite 8x8 --prefix hero " + q(dir / "in.png") + " ";
    const Bytes bin = expected_sheet_bin();
    ASSERT_EQ(run(kSpr + " --format bin" + in + q(dir / "x.bin")).status, 0);
    ASSERT_EQ(read_file(dir / "x.bin"), bin);
    ASSERT_EQ(run(kSpr + in + q(dir / "x.asm")).status, 0);
    const std::string listing = text_of(read_file(dir / "x.asm"));
    // The background's lines are all 11, the outline's row has it at the edges.
    EXPECT_NE(listing.find("hero_ATTR:\n\tDEFB\t0FFh,0E0h,0E0h,024h;\n\tDEFB\t0FFh,0E0h,0E0h,024h;\n"), std::string::npos);
    EXPECT_NE(listing.find("hero_MASK:\n\tDEFW\t0FFFFh;\n\tDEFW\t0C003h;\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("hero_MASK_SIZE:\tEQU\t32\n"), std::string::npos);
    ASSERT_EQ(run(kSpr + " --format sdas" + in + q(dir / "x.s")).status, 0);
    EXPECT_NE(text_of(read_file(dir / "x.s")).find("_hero_MASK::\n\t.dw 0xFFFF\n\t.dw 0xC003\n"), std::string::npos);
    ASSERT_EQ(run(kSpr + in + q(dir / "hero.c")).status, 0);
    ASSERT_EQ(run(kSpr + in + q(dir / "hero.h")).status, 0);
    const std::string header = text_of(read_file(dir / "hero.h"));
    EXPECT_NE(header.find("#define hero_MASK_SIZE 32\n"), std::string::npos);
    EXPECT_NE(header.find("extern const unsigned char hero_MASK[hero_MASK_SIZE];\n"), std::string::npos);
    if (run("command -v cc").status == 0) {
        const std::string main = "#include <stdio.h>\n#include \"hero.h\"\n"
                                 "int main(void) { fwrite(hero_SPR, 1, hero_SPR_SIZE, stdout);"
                                 " fwrite(hero_ATTR, 1, hero_ATTR_SIZE, stdout);"
                                 " fwrite(hero_MASK, 1, hero_MASK_SIZE, stdout); return 0; }\n";
        write_file(dir / "main.c", Bytes(main.begin(), main.end()));
        const RunResult built = run("cc -std=c99 -Wall -Wextra -pedantic -Werror -o " + q(dir / "host") + " " +
                                    q(dir / "main.c") + " " + q(dir / "hero.c"));
        ASSERT_EQ(built.status, 0) << built.out << built.err;
        EXPECT_EQ(run(q(dir / "host") + " > " + q(dir / "host.bin")).status, 0);
        EXPECT_EQ(read_file(dir / "host.bin"), bin);
    }
    // The screen file: its body is the sheet's screen (lines across the
    // whole sheet, as a screen shows), codes 0 where transparent, no mask.
    const RunResult scn = run(kSpr + " " + q(dir / "in.png") + " " + q(dir / "x.scn"));
    EXPECT_EQ(scn.status, 0);
    EXPECT_EQ(scn.err + scn.diagnostics, "encsprite: warning: " + (dir / "in.png").string() +
                           " has transparent pixels, and a screen file holds no mask: they are coded 0\n");
    ASSERT_EQ(run(kSpr + " --format bin " + q(dir / "in.png") + " " + q(dir / "whole.bin")).status, 0);
    const Bytes whole = read_file(dir / "whole.bin"), screen = read_file(dir / "x.scn");
    ASSERT_EQ(screen.size(), 16 + bin.size() - 32);
    EXPECT_EQ(Bytes(screen.begin() + 16, screen.end()), Bytes(whole.begin(), whole.end() - 32));
}

// Transparent pixels are no colour: four opaque colours beside them convert
// without a warning, five with one that counts the opaque pixels alone.
TEST(Transparency, TheWarningCountsOpaquePixels)
{
    const fs::path dir = scratch_dir();
    const Rgba five[] = {{0, 0, 0, 255}, {0, 0, 64, 255}, {0, 32, 0, 255}, {96, 0, 0, 255}, {224, 0, 0, 255}};
    for (int colours : {4, 5}) {
        SCOPED_TRACE(colours);
        PngContent s;
        s.w = s.h = 8;
        s.colour_type = 6;
        // Every other pixel transparent (alpha below half), of colours of
        // its own that would count were they counted.
        for (int i = 0; i < 64; ++i) {
            const Rgba c = i % 2 ? Rgba{uint8_t(i * 4), 200, uint8_t(255 - i), 100} : five[size_t(i / 2 % colours)];
            s.samples.insert(s.samples.end(), {c.r, c.g, c.b, c.a});
        }
        write_file(dir / "in.png", encode_png(s));
        const RunResult r = run(kSpr + " " + q(dir / "in.png") + " " + q(dir / "out.asm"));
        EXPECT_EQ(r.status, 0);
        // Of the 32 opaque pixels, those of (0, 32, 0): 6 (every fifth from the third).
        EXPECT_EQ(r.err + r.diagnostics, colours == 4 ? "" : "encsprite: warning: " + (dir / "in.png").string() +
                                                " has 5 screen colours where four fit: 6 pixels show another colour\n");
    }
}

// The transparency through the stages: --pad copies the edge pixel, clear
// or not; --fit makes a pixel transparent where more than half its area
// is; letterbox bars are opaque.
TEST(Transparency, ThroughPadAndFit)
{
    const fs::path dir = scratch_dir();
    const struct {
        const char* name;
        std::string options;
        int w, h;                              // of the picture
        std::function<bool(int x, int y)> clear; // of its pixels
        int out_w, out_h;
        std::function<bool(int x, int y)> want; // of the output's
    } cases[] = {
        {"pad, clear right edge", "--pad", 12, 6, [](int x, int) { return x >= 6; }, 16, 8,
         [](int x, int) { return x >= 6; }},
        {"pad, opaque right edge", "--pad", 12, 6, [](int x, int) { return x < 10; }, 16, 8,
         [](int x, int) { return x < 10; }},
        {"pad, clear bottom", "--pad", 8, 5, [](int, int y) { return y == 4; }, 8, 8, [](int, int y) { return y >= 4; }},
        {"fit, halved", "--fit 8x8", 16, 16, [](int x, int y) { return x < 8 || (y < 4 && x < 10); }, 8, 8,
         [](int x, int y) { return x < 4 || (y < 2 && x < 5); }},
        // Areas of 2x2 three quarters clear and half clear, in a checkerboard.
        {"fit, three quarters and half", "--fit 8x8", 16, 16,
         [](int x, int y) { return (x / 2 + y / 2) % 2 == 0 ? !(x % 2 == 0 && y % 2 == 0) : x % 2 == 0; }, 8, 8,
         [](int x, int y) { return (x + y) % 2 == 0; }},
        {"letterbox", "--fit 16x8 --letterbox", 8, 8, [](int, int) { return true; }, 16, 8,
         [](int x, int) { return x >= 4 && x < 12; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PngContent s;
        s.w = uint32_t(c.w);
        s.h = uint32_t(c.h);
        s.colour_type = 6;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                s.samples.insert(s.samples.end(), {200, 100, 50, uint16_t(c.clear(x, y) ? 0 : 255)});
        write_file(dir / "in.png", encode_png(s));
        ASSERT_EQ(run(kSpr + " --format bin " + c.options + " " + q(dir / "in.png") + " " + q(dir / "out.bin")).status, 0);
        std::vector<bool> want;
        for (int y = 0; y < c.out_h; ++y)
            for (int x = 0; x < c.out_w; ++x)
                want.push_back(c.want(x, y));
        EXPECT_EQ(mask_of(read_file(dir / "out.bin"), c.out_w, c.out_h), want);
    }
}

// Under every palette, the search of --dither included, the raster is code
// 0 wherever the mask is 11: a routine that ORs the sprite over the masked
// background would draw whatever is left there.
TEST(Transparency, EveryPaletteLeavesTransparentPixelsCodeZero)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "in.png", encode_png(sheet_png(6, 0)));
    for (const char* mode : {"", "--perceptual", "--dither=ordered", "--dither"}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(run(kSpr + " " + mode + " --format bin " + q(dir / "in.png") + " " + q(dir / "out.bin")).status, 0);
        const Bytes bin = read_file(dir / "out.bin");
        // The raster (16 bytes a symbol), the palette's four bytes for each
        // symbol, then a mask as long as the raster.
        const size_t n = bin.size() * 4 / 9, a = n / 4;
        ASSERT_EQ(2 * n + a, bin.size());
        size_t masked = 0;
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(bin[i] & bin[n + a + i], 0) << "byte " << i;
            masked += bin[n + a + i] != 0;
        }
        EXPECT_GT(masked, 0u);
    }
}
