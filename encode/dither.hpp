// Ordered dithering (--dither=ordered): each symbol's four colours mixed in
// a fixed pattern, so that from a normal viewing distance, where the eye
// averages neighbouring pixels, a gradient looks smooth instead of banded.
//
// The four colours are chosen for mixing, not for standing alone. Every
// picture colour lies in a cell of the screen's colour lattice (the 8 x 8 x 4
// levels the screen shows), between two levels in each channel; in linear
// light it is the mix of the cell's eight corners weighted by where it lies
// in the cell (trilinear weights). The symbol's four colours are the four
// corners of most weight summed over its 64 pixels. Each pixel then takes
// one of them by an 8 x 8 Bayer threshold at its place in the symbol: its
// corner weights, each corner that is not among the four given to the
// nearest of the four (CIEDE2000), are laid end to end in order of the four
// colours' brightness, and the threshold picks the one it falls in. Over the
// pattern each colour appears in proportion to its weight, so the pixels'
// mean light is the picture's wherever the cell's corners are among the four.
//
// The pattern repeats with every symbol, so an animated, tiled or scrolled
// picture shows no pattern moving against its neighbours; and a symbol is
// coded from its own pixels alone, so the memory and the row order are
// those of --perceptual and a file stored bottom-up gives the same bytes.
//
// Exact art stays exact: a symbol of at most four colours, each within 4 of
// a screen level in every channel (screen colours, and the same art drawn
// with bit-replicated levels 0, 36, 73, ... 255 and 0, 85, 170, 255), is
// coded as --perceptual codes it. A flat area in a screen colour has one
// corner of all the weight and stays flat. Everything is integers, but for
// the linear-light table and the CIEDE2000 of the corners (pinned floating
// point, colour/lab.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "colour/lab.hpp"
#include "encode/sprite_palette.hpp"
#include "formats/picture.hpp"
#include "formats/screen.hpp"
#include "pipeline/walk.hpp"

// Each corner's weight of a colour sums to this.
inline constexpr uint32_t kCornerWhole = uint32_t(1) << 24;

// Adds the corner weights of the colour (r, g, b) to `weights`, indexed by
// the corners' RGB332 bytes.
void add_corner_weights(uint8_t r, uint8_t g, uint8_t b, std::array<uint64_t, 256>& weights);

// The four bytes of most weight, the heaviest first (the lower byte where
// two weigh the same); black for codes that no corner needs.
std::array<uint8_t, 4> heaviest_four(const std::array<uint64_t, 256>& weights);

// The four colours a symbol is dithered with: of the eight heaviest corners,
// the four that leave the least weighted CIEDE2000 between each corner and
// the nearest of them (the heaviest four where that ties). The differences
// come from `table` where it is given (colour/lab.hpp), the same bits.
std::array<uint8_t, 4> best_four_corners(const std::array<uint64_t, 256>& weights,
                                         const ScreenDifferences* table = nullptr);

// True when the symbol is art the screen shows: at most four colours, each
// near screen levels (the symbol where it lies in the picture, as
// quantize_perceptual_bgr takes it).
bool exact_art(const uint8_t* bgr, ptrdiff_t stride);

// True when every channel is within 4 of a level the screen shows.
bool near_screen_levels(uint8_t r, uint8_t g, uint8_t b);

// What coding against four colours needs: their order of brightness, and
// the code of every corner (filled as corners are met).
struct OrderedCoder {
    std::array<uint8_t, 4> attributes{};
    std::array<uint8_t, 4> by_brightness{}; // codes, darkest first
    std::array<int8_t, 256> code_of_corner{};
    const ScreenDifferences* table = nullptr; // or none
};
OrderedCoder ordered_coder(const std::array<uint8_t, 4>& attributes, const ScreenDifferences* table = nullptr);

// The code of the colour (r, g, b) at column x, line y (from the top) of its
// symbol.
PixelCode ordered_code(OrderedCoder& c, uint8_t r, uint8_t g, uint8_t b, unsigned x, unsigned y);

// One symbol where it lies in the picture, as quantize_perceptual_bgr takes
// it: the four colours, and the pixels coded against any four.
// Each may take the table of screen colours' differences (the same bytes).
std::array<uint8_t, 4> choose_dither_colours(const uint8_t* bgr, ptrdiff_t stride,
                                             const ScreenDifferences* table = nullptr);
std::array<uint16_t, 8> code_ordered(const uint8_t* bgr, ptrdiff_t stride, const std::array<uint8_t, 4>& attributes,
                                     const ScreenDifferences* table = nullptr);
SymbolRaster quantize_ordered_bgr(const uint8_t* bgr, ptrdiff_t stride, const ScreenDifferences* table = nullptr);

// The same pattern over other weights, where --dither's search starts: each
// pixel's colour as the mix of the four corners of the tetrahedron around it
// in its cell (rather than of all eight corners), the symbol's four colours
// the heaviest of those, so that a grey between levels is mixed from greys
// and every colour can be met by four. Exact art as quantize_ordered_bgr.
SymbolRaster quantize_tetrahedra_bgr(const uint8_t* bgr, ptrdiff_t stride, const ScreenDifferences* table = nullptr);

// encscreen --dither=ordered: the picture read a group of bands at a time,
// its symbols over `threads` threads (the same bytes for any number).
PictureError load_screen_ordered(const char* path, ScreenImage& s, const ReadOptions& opt = {}, unsigned threads = 1);

// encsprite --dither=ordered: one set of four colours for the whole picture,
// the heaviest corners over all its pixels (a picture of at most four colours
// near screen levels gets --perceptual's palette). The pixels' true colours
// are needed to code them after the palette is known, so the whole picture
// is kept while it is read, three bytes a pixel, and then its codes take the
// place of the values (each value 0 .. 3 is its own code).
// The pixels are coded over `threads` threads, the same bytes for any number.
PictureError load_sprites_ordered(const char* path, SpritePicture& out, const ReadOptions& opt = {},
                                  unsigned threads = 1);
// The same, the picture's pixels kept in `bgr` (top line first, three bytes
// a pixel) for a search to start from, and `art` true where the palette is
// --perceptual's.
PictureError load_sprites_ordered(const char* path, SpritePicture& out, BigArray<uint8_t>& bgr, bool& art,
                                  const ReadOptions& opt = {}, unsigned threads = 1);
