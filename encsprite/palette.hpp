// The extreme-colour palette of encsprite: one set of four RGB332 values for
// the whole picture, and codes by exact match.
//
// Values are compared as plain numbers (red dominates, then green, then blue;
// not a brightness order). The palette holds the largest value mx, the
// smallest mn, and the largest (hi2) and smallest (lo2) of those strictly
// between; hi2 falls back to mn and lo2 to mx where nothing lies between.
// Every symbol gets the attribute bytes mx, hi2, lo2, mn, so a picture of at
// most four RGB332 values converts without loss; a value outside the palette
// gets code 0 and shows as mx.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/bigbuf.hpp"
#include "common/bmp.hpp"
#include "common/cpu.hpp"
#include "common/picture.hpp"
#include "common/screen.hpp"
#include "common/walk.hpp"

struct ExtremePalette {
    uint8_t mx, hi2, lo2, mn;
};

// Over every pixel of the picture.
ExtremePalette select_extreme_palette(const BmpPixels& bmp);

// Tested in this order: mn is 3, lo2 is 2, hi2 is 1, anything else 0.
inline PixelCode code_for_value(const ExtremePalette& p, uint8_t v)
{
    return v == p.mn ? 3 : v == p.lo2 ? 2 : v == p.hi2 ? 1 : 0;
}

// The quantizer of one symbol for the walk: the same four bytes everywhere.
SymbolCodes quantize_symbol_palette(const ExtremePalette& p, const SymbolPixels& px);

// A whole picture in memory coded against its palette, top-down, in two
// passes: the first packs every pixel to RGB332 in place (pixel i's value to
// byte i) and marks the values that occur, the second codes the symbols from
// those bytes. The picture's pixels are used up.
ScreenImage encode_sprites(BmpPixels& bmp);

// encsprite's picture: one RGB332 byte a pixel, a third of the picture's
// bytes, top line first, and the palette of those values. The palette needs
// every pixel before the first can be coded, and a pipe cannot be read twice,
// so the values are kept; the codes are made as the listing is written.
struct SpritePicture {
    uint32_t width = 0, height = 0;
    BigArray<uint8_t> values;
    ExtremePalette palette{};
};

// One line of n BGR pixels to their RGB332 values, each value that occurs
// marked in `seen`. The SSSE3 kernel packs 16 pixels at a time; pack_line
// takes it where the processor has it.
void pack_line_portable(const uint8_t* bgr, uint8_t* values, size_t n, std::array<bool, 256>& seen);
#if VORNE_X86_KERNELS
void pack_line_ssse3(const uint8_t* bgr, uint8_t* values, size_t n, std::array<bool, 256>& seen);
#endif
void pack_line(const uint8_t* bgr, uint8_t* values, size_t n, std::array<bool, 256>& seen);

// The raster words of n symbols' lines: word i codes values 8i .. 8i+7
// against the palette, the first value in the top two bits. The SSSE3
// kernel codes 16 values at a time; code_words takes it where the processor
// has it.
void code_words_portable(const uint8_t* values, size_t n, const ExtremePalette& p, uint16_t* words);
#if VORNE_X86_KERNELS
void code_words_ssse3(const uint8_t* values, size_t n, const ExtremePalette& p, uint16_t* words);
#endif
void code_words(const uint8_t* values, size_t n, const ExtremePalette& p, uint16_t* words);

// Reads the picture band by band into `out`.
PictureError read_sprites(PictureStream& p, SpritePicture& out);
PictureError load_sprites(const char* path, SpritePicture& out, const ReadOptions& opt = {});
