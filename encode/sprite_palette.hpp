// encsprite's palettes: one set of four RGB332 values for the whole picture,
// and a code for every RGB332 value. The default is the extreme-colour
// palette, with codes by exact match (--perceptual chooses another,
// encode/sprite_perceptual.hpp); either way the listing codes the pixels' values
// through the palette's table, which knows nothing of how it was chosen.
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

#include "io/bigbuf.hpp"
#include "io/cpu.hpp"
#include "pipeline/lines.hpp"
#include "formats/screen.hpp"

struct ExtremePalette {
    uint8_t mx, hi2, lo2, mn;
};

// The palette of the values marked in `seen`: which values occur is all it
// depends on. Nothing marked (a picture all transparent): all four black.
ExtremePalette palette_of(const std::array<bool, 256>& seen);

// Tested in this order: mn is 3, lo2 is 2, hi2 is 1, anything else 0.
inline PixelCode code_for_value(const ExtremePalette& p, uint8_t v)
{
    return v == p.mn ? 3 : v == p.lo2 ? 2 : v == p.hi2 ? 1 : 0;
}

// A palette as the listing uses it: the four attribute bytes every symbol
// gets, and the code of each RGB332 value, its two bits kept in two planes
// of one bit a value (bit v % 8 of byte v / 8), so that the SSSE3 coder
// looks up 16 values' codes at a time.
struct SpritePalette {
    std::array<uint8_t, 4> attributes{};
    std::array<uint8_t, 32> low{}, high{};
};

inline PixelCode code_of(const SpritePalette& p, uint8_t v)
{
    return PixelCode((p.low[v >> 3] >> (v & 7) & 1) | (p.high[v >> 3] >> (v & 7) & 1) << 1);
}

inline void set_code(SpritePalette& p, uint8_t v, PixelCode code)
{
    const uint8_t bit = uint8_t(1u << (v & 7));
    p.low[v >> 3] = uint8_t((p.low[v >> 3] & ~bit) | (code & 1 ? bit : 0));
    p.high[v >> 3] = uint8_t((p.high[v >> 3] & ~bit) | (code & 2 ? bit : 0));
}

// The extreme palette's bytes mx, hi2, lo2, mn and its codes.
SpritePalette extreme_palette(const ExtremePalette& p);

// encsprite's picture: one RGB332 byte a pixel, a third of the picture's
// bytes, top line first, and the palette of those values. The palette needs
// every pixel before the first can be coded, and a pipe cannot be read twice,
// so the values are kept; the codes are made as the listing is written.
//
// Transparent pixels (a PNG's alpha below half, or its tRNS) take no part in
// the palette: it is chosen from the opaque pixels alone, and the transparent
// ones are marked in `clear`, a bit a pixel (an eighth of the values' bytes):
// byte (y * width + x) / 8, bit 7 - x % 8, so that each byte is the eight
// pixels of one raster word, the first in the top bit; 1 where the pixel is
// transparent. `clear` is kept only where at least one pixel is
// transparent, and is empty otherwise (a picture without alpha never has
// one), so such a picture converts as it always has.
struct SpritePicture {
    uint32_t width = 0, height = 0;
    BigArray<uint8_t> values;
    BigArray<uint8_t> clear;
    SpritePalette palette;
    // The opaque pixels of each value, counted as they are read, for the
    // warning about colours merged; all zero where the values are not the
    // pixels' colours (--dither=ordered codes them as it dithers).
    std::array<uint64_t, 256> count{};
};

// Whether the picture has transparent pixels, and so a mask.
inline bool has_mask(const SpritePicture& sp) { return !sp.clear.empty(); }

// Pixel i's bit in a plane of bits laid out as SpritePicture::clear.
inline bool clear_bit(const uint8_t* bits, size_t i) { return bits[i >> 3] >> (7 - (i & 7)) & 1; }

// Packs n bytes of transparency (0 or 1; n a multiple of 8) into n / 8
// bytes of bits, the first pixel in the top bit. True where any is set.
bool pack_clear(const uint8_t* clear, size_t n, uint8_t* bits);

// For --perceptual: of each RGB332 value, how many pixels pack to it and the
// sums of their red, green and blue, so that the palette can be chosen from
// the pixels' true colours without keeping them.
struct ValueStats {
    std::array<uint64_t, 256> count{};
    std::array<std::array<uint64_t, 3>, 256> sum{};
};

// Adds the n values at `values` to the counts: four tables (each value into
// table i % 4), so that runs of one value do not wait on their own
// increments; summed by sum_counts.
using ValueCounts = std::array<std::array<uint64_t, 256>, 4>;
void count_values(const uint8_t* values, size_t n, ValueCounts& counts);
std::array<uint64_t, 256> sum_counts(const ValueCounts& counts);

// One line of n BGR pixels to their RGB332 values, each value counted into
// `counts` (below). The SSSE3 kernel packs 16 pixels at a time; pack_line
// takes it where the processor has it.
void pack_line_portable(const uint8_t* bgr, uint8_t* values, size_t n, ValueCounts& counts);
#if VORNE_X86_KERNELS
void pack_line_ssse3(const uint8_t* bgr, uint8_t* values, size_t n, ValueCounts& counts);
#endif
void pack_line(const uint8_t* bgr, uint8_t* values, size_t n, ValueCounts& counts);

// The raster words of n symbols' lines: word i codes values 8i .. 8i+7
// against the palette, the first value in the top two bits. The SSSE3
// kernel codes 16 values at a time and the AVX2 one 32; code_words takes
// the widest the processor has.
void code_words_portable(const uint8_t* values, size_t n, const SpritePalette& p, uint16_t* words);
#if VORNE_X86_KERNELS
void code_words_ssse3(const uint8_t* values, size_t n, const SpritePalette& p, uint16_t* words);
void code_words_avx2(const uint8_t* values, size_t n, const SpritePalette& p, uint16_t* words);
#endif
void code_words(const uint8_t* values, size_t n, const SpritePalette& p, uint16_t* words);

// Reads the picture band by band into `out`, with the extreme palette of its
// opaque pixels' values and their counts; with `stats`, counts every opaque
// pixel's true colour into it as well. The transparency comes with the lines
// where the chain hands it on (ReadOptions::alpha).
PictureError read_sprites(const LineSource& src, SpritePicture& out, ValueStats* stats = nullptr);
PictureError load_sprites(const char* path, SpritePicture& out, const ReadOptions& opt = {});
