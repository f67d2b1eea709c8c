// The sprite listing: a screen as Z80 assembler source.
//
//   ;New ZX screen format (VORNE)
//   ;Converter: bmp sprites (24 bits RGB888) to asm
//   ;Rastr format: 2 bits per pixel
//   ;Attribute format: 4 byte attributes (RGB332) per symbol (8x8 pixs)
//   ;Height = 8; Width = 16
//
//   SPR:
//   <tab>DEFW<tab>0C03Fh;                  one per raster word, top line first
//   ATTR:
//   <tab>DEFB<tab>0FFh,000h,0FFh,000h;     one per symbol, top symbol row first
//
// Numbers are upper-case hexadecimal with a leading 0 and a trailing h, so that
// every assembler reads them as numbers. The stream is opened in text mode:
// lines end in CR LF on Windows.
#pragma once

#include <cstdio>

#include "common/screen.hpp"
#include "encsprite/palette.hpp"

// False when a write or the final flush fails.
bool write_sprite_listing(std::FILE* out, const ScreenImage& s);

// The listing of a picture's RGB332 values, coded as the lines are written:
// the same text as for the screen that encode_sprites would build.
bool write_sprite_listing(std::FILE* out, const SpritePicture& sp);
