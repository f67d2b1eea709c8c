// The perceptual quantizer of encscreen: for each symbol, the four RGB332
// colours and pixel codes that make what the screen shows look closest to the
// picture, by CIEDE2000 (see colour/four_colours.hpp for the search).
//
// The symbol's distinct colours are found first (a flat area or pixel art has
// few), weighted by how many pixels have each. Every pixel gets the code of
// the nearest of the four colours, so a symbol of at most four colours that
// the screen can show exactly comes out exactly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "formats/picture.hpp"
#include "formats/screen.hpp"
#include "pipeline/walk.hpp"

// The quantizer on a symbol where it lies in the picture, as
// quantize_luma_bgr takes it: eight lines of eight blue-green-red pixels,
// bottom line first, `stride` bytes from one line to the one above.
SymbolRaster quantize_perceptual_bgr(const uint8_t* bgr, ptrdiff_t stride);

// The same in two steps, for conversions that code other pixels than the
// picture's own (dithering): the symbol's four attribute bytes, and any
// pixels coded against any four, each to the nearest (nearest_code in
// colour/four_colours.hpp). The two give quantize_perceptual_bgr's bytes,
// which takes its codes from the search instead of computing them again.
std::array<uint8_t, 4> choose_perceptual_colours(const uint8_t* bgr, ptrdiff_t stride);
std::array<uint16_t, 8> code_perceptual(const uint8_t* bgr, ptrdiff_t stride, const std::array<uint8_t, 4>& attributes);

// encscreen --perceptual: the picture read a group of bands at a time and
// quantized into `s` as it arrives, its symbols over `threads` threads (the
// same bytes for any number).
PictureError load_screen_perceptual(const char* path, ScreenImage& s, const ReadOptions& opt = {},
                                    unsigned threads = 1);
