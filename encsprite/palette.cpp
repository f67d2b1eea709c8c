#include "encsprite/palette.hpp"

#include <array>

namespace {

// The palette depends only on which values occur.
ExtremePalette palette_of(const std::array<bool, 256>& seen)
{
    ExtremePalette p{0, 0, 0, 255};
    for (unsigned v = 0; v < 256; ++v)
        if (seen[v]) {
            p.mn = uint8_t(v);
            break;
        }
    for (unsigned v = 256; v-- > 0;)
        if (seen[v]) {
            p.mx = uint8_t(v);
            break;
        }
    p.lo2 = p.mx;
    p.hi2 = p.mn;
    for (unsigned v = p.mn + 1u; v < p.mx; ++v)
        if (seen[v]) {
            p.lo2 = uint8_t(v);
            break;
        }
    for (unsigned v = p.mx; v-- > p.mn + 1u;)
        if (seen[v]) {
            p.hi2 = uint8_t(v);
            break;
        }
    return p;
}

} // namespace

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

PictureError read_sprites(PictureStream& p, SpritePicture& out)
{
    out = SpritePicture{};
    out.width = p.width;
    out.height = p.height;
    const size_t w = p.width;
    const RowOrder order = row_order(p);
    std::array<bool, 256> seen{};
    const PictureError e = for_each_band(p, [&](const uint8_t* bottom, ptrdiff_t stride, size_t k) {
        room_for_band(order, out.values, 8 * w, k);
        // Line r of the band (0 = its bottom line) is line 7 - r of its symbol row.
        uint8_t* row = out.values.data() + row_of_band(order, k) * 8 * w;
        for (size_t r = 0; r < 8; ++r) {
            const uint8_t* px = bottom + ptrdiff_t(r) * stride;
            uint8_t* v = row + (7 - r) * w;
            for (size_t x = 0; x < w; ++x, px += 3) {
                v[x] = pack_rgb332(px[2], px[1], px[0]);
                seen[v[x]] = true;
            }
        }
    });
    if (e != PictureError::ok)
        return e;
    if (!order.whole && !order.top_down) {
        // Symbol rows arrived bottom row first: turn them round, 8 lines at a time.
        reverse_blocks(out.values.data(), 8 * w, order.rows);
    }
    out.palette = palette_of(seen);
    return PictureError::ok;
}

PictureError load_sprites(const char* path, SpritePicture& out)
{
    return read_picture(path, [&](PictureStream& p) { return read_sprites(p, out); });
}
