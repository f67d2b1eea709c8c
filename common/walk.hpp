// The walk over a picture's symbols, shared by both encoders: each symbol is
// handed to the encoder where it lies in the picture, and what the encoder
// makes of it goes straight to its place in a top-down screen of the
// picture's size.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>

#include "common/bmp.hpp"
#include "common/screen.hpp"

// What an encoder makes of one symbol: the raster words of its eight lines in
// the order the picture is stored (bottom line first), and its four
// attribute bytes.
struct SymbolRaster {
    std::array<uint16_t, 8> words;
    std::array<uint8_t, 4> attributes;
};

// Encodes every symbol of a width x height picture stored bottom line first,
// `pixel_bytes` bytes a pixel, symbols from the bottom symbol row, left to
// right. The encoder is called as encode(first, stride): `first` points at
// the first pixel of the symbol's bottom line and each line above starts
// `stride` bytes further on. Its results are placed directly in top-down
// order: stored line L is screen line height-1-L and stored symbol row r is
// row hc-1-r, so no reversal and no per-symbol copy of the pixels is needed.
template <class Encode>
ScreenImage encode_screen(uint32_t width, uint32_t height, const uint8_t* pixels, size_t pixel_bytes, Encode&& encode)
{
    ScreenImage s = make_screen(width, height);
    const size_t n = symbol_columns(s), hc = symbol_rows(s), stride = pixel_bytes * width;
    for (size_t sy = 0; sy < hc; ++sy) {
        const uint8_t* lines = pixels + 8 * sy * stride;
        // Screen line of the symbol row's bottom line; the line above is n words earlier.
        uint16_t* bottom = s.raster.data() + (s.height - 1 - 8 * sy) * n;
        uint8_t* attributes = s.attributes.data() + (hc - 1 - sy) * n * 4;
        for (size_t sx = 0; sx < n; ++sx) {
            const SymbolRaster q = encode(lines + 8 * pixel_bytes * sx, stride);
            for (size_t r = 0; r < 8; ++r)
                *(bottom + sx - r * n) = q.words[r];
            std::memcpy(attributes + 4 * sx, q.attributes.data(), 4);
        }
    }
    return s;
}

// The same over a BMP's pixels: encode(bgr, stride) gets blue-green-red pixels.
template <class Encode>
ScreenImage encode_screen(const BmpPixels& bmp, Encode&& encode)
{
    return encode_screen(uint32_t(bmp.w), uint32_t(bmp.h), bmp.pixels.data(), 3, encode);
}

// The 64 pixels of a symbol laid out as encode_screen passes them, bottom line first.
inline SymbolPixels gather_block(const uint8_t* bgr, size_t stride)
{
    SymbolPixels p;
    for (size_t r = 0; r < 8; ++r) {
        const uint8_t* line = bgr + r * stride;
        for (size_t c = 0; c < 8; ++c) {
            p.b[8 * r + c] = line[3 * c];
            p.g[8 * r + c] = line[3 * c + 1];
            p.r[8 * r + c] = line[3 * c + 2];
        }
    }
    return p;
}

// The 64 pixels of the symbol at symbol column sx and stored symbol row
// sy_stored (0 = the bottom symbol row), bottom line of the symbol first.
inline SymbolPixels gather_symbol(const BmpPixels& bmp, size_t sx, size_t sy_stored)
{
    const size_t stride = 3 * size_t(bmp.w);
    return gather_block(bmp.pixels.data() + 8 * sy_stored * stride + 24 * sx, stride);
}

// The raster words of a symbol's codes, line by line in entry order.
inline SymbolRaster raster_of(const SymbolCodes& q)
{
    SymbolRaster out{{}, q.attributes};
    for (size_t r = 0; r < 8; ++r) {
        uint16_t word = 0;
        for (unsigned c = 0; c < 8; ++c)
            word |= raster_bits(q.codes[8 * r + c], c);
        out.words[r] = word;
    }
    return out;
}

// The walk for a quantizer of gathered symbols: `quantize` maps SymbolPixels
// to SymbolCodes.
template <class Quantize>
ScreenImage build_screen(const BmpPixels& bmp, Quantize&& quantize)
{
    return encode_screen(bmp, [&](const uint8_t* bgr, size_t stride) {
        return raster_of(quantize(gather_block(bgr, stride)));
    });
}
