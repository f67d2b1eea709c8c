// Plain references for screens: a screen made whole, the walk over a whole
// picture in memory, one symbol gathered into planes and its codes packed
// into raster words step by step, and the screen file's length and reading
// in one go. The tests, the fuzz targets and the benchmarks compare the
// programs' band-by-band code against these; the programs never link them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "io/input.hpp"
#include "formats/scnfile.hpp"
#include "formats/screen.hpp"
#include "pipeline/walk.hpp"
#include "tests/reference/bmp.hpp"

// The 64 pixels of one symbol, entry j = 8r + c for symbol line r in the order
// the picture is stored (bottom line first) and column c.
struct SymbolPixels {
    std::array<uint8_t, 64> r, g, b;
};

// What a quantizer gives for one symbol: its four attribute bytes and the code
// of every entry of its SymbolPixels.
struct SymbolCodes {
    std::array<uint8_t, 4> attributes;
    std::array<PixelCode, 64> codes;
};


// Header and body from an open input, as one read.
ScnError read_screen_file(Input& in, ScreenImage& s);

// The walk over a picture in memory, stored bottom line first, `pixel_bytes`
// bytes a pixel: every symbol row handed to the programs' encode_band at once.
template <class Encode>
ScreenImage encode_screen(uint32_t width, uint32_t height, const uint8_t* pixels, size_t pixel_bytes, Encode&& encode)
{
    ScreenImage s = make_screen(width, height);
    const size_t hc = symbol_rows(s), stride = pixel_bytes * width;
    for (size_t sy = 0; sy < hc; ++sy)
        encode_band(s, hc - 1 - sy, pixels + 8 * sy * stride, ptrdiff_t(stride), pixel_bytes, encode);
    return s;
}

template <class Encode>
ScreenImage encode_screen(const BmpPixels& bmp, Encode&& encode)
{
    return encode_screen(uint32_t(bmp.w), uint32_t(bmp.h), bmp.pixels.data(), 3, encode);
}

// The 64 pixels of a symbol laid out as the walk passes them, bottom line first.
inline SymbolPixels gather_block(const uint8_t* bgr, ptrdiff_t stride)
{
    SymbolPixels p;
    for (size_t r = 0; r < 8; ++r) {
        const uint8_t* line = bgr + ptrdiff_t(r) * stride;
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
    return gather_block(bmp.pixels.data() + 8 * sy_stored * stride + 24 * sx, ptrdiff_t(stride));
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
    return encode_screen(bmp, [&](const uint8_t* bgr, ptrdiff_t stride) {
        return raster_of(quantize(gather_block(bgr, stride)));
    });
}
