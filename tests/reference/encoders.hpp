// Plain references for the two encoders: each conversion on a whole picture
// in memory, symbol by symbol, with the programs' own quantizers and palette,
// and the listing of a finished screen. What the programs make band by band
// as a picture arrives must be what these make; the programs never link them.
#pragma once

#include <cstdio>

#include "formats/screen.hpp"
#include "encode/quantize_luma.hpp"
#include "encode/sprite_palette.hpp"
#include "tests/reference/bmp.hpp"
#include "tests/reference/screen.hpp"

// The luminance quantizer on a gathered symbol.
SymbolCodes quantize_symbol_luma(const SymbolPixels& p);

// encscreen's conversion of a whole picture in memory, top-down.
ScreenImage encode_screen_luma(const BmpPixels& bmp);

// The extreme palette over every pixel of the picture.
ExtremePalette select_extreme_palette(const BmpPixels& bmp);

// The palette quantizer of one symbol for the walk: the same four bytes everywhere.
SymbolCodes quantize_symbol_palette(const ExtremePalette& p, const SymbolPixels& px);

// A whole picture in memory coded against its palette, top-down, in two
// passes: the first packs every pixel to RGB332 in place (pixel i's value to
// byte i) and marks the values that occur, the second codes the symbols from
// those bytes. The picture's pixels are used up.
ScreenImage encode_sprites(BmpPixels& bmp);

// The listing of a finished screen: its raster words in order and each
// symbol's own attribute bytes. False when a write or the final flush fails.
bool write_sprite_listing(std::FILE* out, const ScreenImage& s);
