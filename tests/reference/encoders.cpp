// The encoders' conversions on a whole picture in memory, and the listing of
// a finished screen.
#include "tests/reference/encoders.hpp"

#include <array>

#include "formats/listing.hpp"

SymbolCodes quantize_symbol_luma(const SymbolPixels& p)
{
    std::array<uint8_t, 64 * 3> bgr;
    for (size_t j = 0; j < 64; ++j) {
        bgr[3 * j] = p.b[j];
        bgr[3 * j + 1] = p.g[j];
        bgr[3 * j + 2] = p.r[j];
    }
    const SymbolRaster q = quantize_luma_bgr(bgr.data(), 24);
    SymbolCodes out{q.attributes, {}};
    for (size_t j = 0; j < 64; ++j)
        out.codes[j] = PixelCode((q.words[j / 8] >> (14 - 2 * (j % 8))) & 3);
    return out;
}

ScreenImage encode_screen_luma(const BmpPixels& bmp) { return encode_screen(bmp, quantize_luma_bgr); }

ExtremePalette select_extreme_palette(const BmpPixels& bmp)
{
    std::array<bool, 256> seen{};
    const uint8_t* px = bmp.pixels.data();
    for (size_t i = 0, end = bmp.pixels.size(); i < end; i += 3)
        seen[pack_rgb332(px[i + 2], px[i + 1], px[i])] = true;
    return palette_of(seen);
}

SymbolCodes quantize_symbol_palette(const ExtremePalette& p, const SymbolPixels& px)
{
    SymbolCodes q{{p.mx, p.hi2, p.lo2, p.mn}, {}};
    for (size_t j = 0; j < 64; ++j)
        q.codes[j] = code_for_value(p, pack_rgb332(px.r[j], px.g[j], px.b[j]));
    return q;
}

ScreenImage encode_sprites(BmpPixels& bmp)
{
    // Pass 1: pixel i's RGB332 value to byte i, and the values that occur
    // marked. Byte i is one of pixel i's own three bytes or an earlier
    // pixel's, so nothing is overwritten before it is read.
    std::array<bool, 256> seen{};
    uint8_t* px = bmp.pixels.data();
    const size_t count = bmp.pixels.size() / 3;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t v = pack_rgb332(px[3 * i + 2], px[3 * i + 1], px[3 * i]);
        px[i] = v;
        seen[v] = true;
    }
    const ExtremePalette p = palette_of(seen);

    // Pass 2: every symbol coded from its RGB332 bytes.
    std::array<uint8_t, 256> code_of;
    for (unsigned v = 0; v < 256; ++v)
        code_of[v] = code_for_value(p, uint8_t(v));
    return encode_screen(uint32_t(bmp.w), uint32_t(bmp.h), px, 1, [&](const uint8_t* values, size_t stride) {
        SymbolRaster q{{}, {p.mx, p.hi2, p.lo2, p.mn}};
        for (size_t line = 0; line < 8; ++line) {
            const uint8_t* v = values + line * stride;
            unsigned word = 0;
            for (size_t c = 0; c < 8; ++c)
                word = (word << 2) | code_of[v[c]];
            q.words[line] = uint16_t(word);
        }
        return q;
    });
}

bool write_sprite_listing(std::FILE* out, const ScreenImage& s)
{
    ListingWriter lw;
    if (!begin_listing(lw, out, s.width, s.height))
        return false;
    const size_t n = symbol_columns(s);
    put_raster_words(lw, s.raster.data(), n * s.height);
    put_attribute_lines(lw, s.attributes.data(), n * symbol_rows(s), 4);
    return end_listing(lw);
}
