// The walk over a picture's symbols, shared by both encoders: each symbol is
// gathered from the stored pixels and handed to the encoder's quantizer, and
// the result is stored in a screen of the picture's size.
#pragma once

#include <cstddef>

#include "common/bmp.hpp"
#include "common/screen.hpp"

// The 64 pixels of the symbol at symbol column sx and stored symbol row
// sy_stored (0 = the bottom symbol row), bottom line of the symbol first.
inline SymbolPixels gather_symbol(const BmpPixels& bmp, size_t sx, size_t sy_stored)
{
    SymbolPixels p;
    const size_t w = size_t(bmp.w);
    for (size_t r = 0; r < 8; ++r) {
        const uint8_t* line = bmp.pixels.data() + 3 * ((8 * sy_stored + r) * w + 8 * sx);
        for (size_t c = 0; c < 8; ++c) {
            p.b[8 * r + c] = line[3 * c];
            p.g[8 * r + c] = line[3 * c + 1];
            p.r[8 * r + c] = line[3 * c + 2];
        }
    }
    return p;
}

// Quantizes every symbol in stored order, bottom symbol row first, left to
// right, then turns the screen top-down. `quantize` maps SymbolPixels to
// SymbolCodes.
template <class Quantize>
ScreenImage build_screen(const BmpPixels& bmp, Quantize&& quantize)
{
    ScreenImage s = make_screen(uint32_t(bmp.w), uint32_t(bmp.h));
    const size_t n = symbol_columns(s);
    const size_t hc = symbol_rows(s);
    for (size_t sy = 0; sy < hc; ++sy)
        for (size_t sx = 0; sx < n; ++sx)
            store_symbol(s, sx, sy, quantize(gather_symbol(bmp, sx, sy)));
    to_top_down(s);
    return s;
}
