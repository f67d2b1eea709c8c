// The symbol screen shared by all three programs.
//
// A screen is a grid of symbols, 8x8 pixels each. Every pixel carries a 2-bit
// code, and every symbol carries four RGB332 attribute bytes: byte k is the
// colour of the symbol's pixels with code k.
//
// Raster word: the codes of 8 horizontally adjacent pixels of one symbol line,
// leftmost pixel in the top bits:
//
//     bit  15 14 | 13 12 | 11 10 |  9  8 |  7  6 |  5  4 |  3  2 |  1  0
//          px 0  | px 1  | px 2  | px 3  | px 4  | px 5  | px 6  | px 7
//
// Attributes of one symbol:   [code 0][code 1][code 2][code 3]
// RGB332 attribute byte:      RRRGGGBB
//
// Both arrays run top-down: raster line 0 is the top line of the picture, and
// within a line word i covers pixels 8i .. 8i+7; attribute symbol row 0 is the
// top row, symbols left to right within it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "io/bigbuf.hpp"
#include "colour/rgb332.hpp"

struct ScreenImage {
    uint32_t width = 0;             // pixels per line
    uint32_t height = 0;            // lines
    BigArray<uint16_t> raster;      // (width / 8) x height words
    BigArray<uint8_t> attributes;   // (width / 8) x (height / 8) x 4 bytes
};

// Symbols per line and symbol rows, rounded down as every reader and writer of
// the format rounds them.
inline size_t symbol_columns(const ScreenImage& s) { return s.width >> 3; }
inline size_t symbol_rows(const ScreenImage& s) { return s.height >> 3; }

// The largest width and height a screen can have: a multiple of 8 that fits the
// 16-bit fields of the screen file.
inline constexpr uint32_t kMaxScreenSide = 65528;

// A 2-bit pixel code, 0 .. 3.
using PixelCode = uint8_t;

// Raster word with `code` at column c (0 = leftmost) of its eight pixels.
inline uint16_t raster_bits(PixelCode code, unsigned c) { return uint16_t(code << (14 - 2 * c)); }

// Allocates a zeroed screen of the given size.
ScreenImage make_screen(uint32_t width, uint32_t height);

// Swaps whole blocks of `block` elements end for end: block i with block count-1-i.
template <class T>
void reverse_blocks(T* v, size_t block, size_t count)
{
    for (size_t i = 0, j = count; i + 1 < j; ++i, --j)
        std::swap_ranges(v + i * block, v + (i + 1) * block, v + (j - 1) * block);
}

// Reverses the order of the first `rows` symbol rows, each moving whole: its
// eight raster lines and its attribute bytes keep their order. A screen that
// was filled in the order a bottom-up picture arrives becomes top-down.
void reverse_symbol_rows(ScreenImage& s, size_t rows);
