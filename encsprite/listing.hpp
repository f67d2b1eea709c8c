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
//
// With a label prefix NAME the two labels are NAME_SPR: and NAME_ATTR:, so
// that several listings can go into one program; nothing else changes.
//
// The same words and bytes as a screen file: what the assembled listing
// holds, behind the screen file's header, for a look at the sprites with
// decscreen.
#pragma once

#include <cstdio>
#include <string_view>

#include "common/screen.hpp"
#include "encsprite/palette.hpp"

// A label prefix that pasmo, z80asm and GNU as all take as the start of a
// label: a letter or underscore, then letters, digits or underscores, at most
// 32 characters, ASCII only.
bool valid_label_prefix(std::string_view name);

// `prefix` is empty (the labels SPR: and ATTR:) or one that
// valid_label_prefix accepts. False when a write or the final flush fails.
bool write_sprite_listing(std::FILE* out, const ScreenImage& s, std::string_view prefix = {});

// The listing of a picture's RGB332 values, coded as the lines are written:
// the same text as for the screen that encode_sprites would build.
bool write_sprite_listing(std::FILE* out, const SpritePicture& sp, std::string_view prefix = {});

// True when the output name asks for a screen file: it ends in ".scn", in
// any case. "-" does not: standard output gets the listing.
bool wants_screen_output(const char* name);

// The picture's screen file, to a stream opened for binary writing: the
// header, then the raster words coded line by line as for the listing, then
// the palette's four bytes for every symbol. False when a write or the final
// flush fails.
bool write_sprite_screen(std::FILE* out, const SpritePicture& sp);
