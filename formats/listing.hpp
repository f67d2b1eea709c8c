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
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "io/files.hpp"

// A listing being written. Its lines are formatted into one large buffer and
// written in blocks: a write a line would dominate the run time on large
// pictures.
struct ListingWriter {
    std::FILE* out = nullptr;
    std::vector<char> buf;
    size_t used = 0;
    bool ok = true; // false once a write has failed
    WriteBack wb{};
    std::string prefix; // "NAME_" before the labels, or nothing
};

// Writes the comment lines of a width x height screen and the label SPR: (or
// NAME_SPR: with a prefix NAME), and makes the buffer. False when the write
// fails.
// `constants` (whole lines, or nothing) go just before the label: the
// sizes of a sheet of sprites as EQU lines.
bool begin_listing(ListingWriter& lw, std::FILE* out, uint32_t width, uint32_t height, std::string_view prefix = {},
                   std::string_view constants = {});

// For the other source kinds (formats/sources.hpp), which share the
// buffer: writes `head` and makes a buffer for a width x height screen's
// lines of at most 14 bytes a raster word and 27 a symbol.
bool begin_text(ListingWriter& lw, std::FILE* out, std::string_view head, uint32_t width, uint32_t height);

// Room for `bytes` more in the buffer (what is there is written first when
// it has less); the caller moves `used` past what it puts there.
char* text_room(ListingWriter& lw, size_t bytes);

// The two upper-case hexadecimal digits of v's low byte, at p; returns p + 2.
char* put_hex_pair(char* p, unsigned v);

// One DEFW line for each of the n raster words at `words`, in order.
void put_raster_words(ListingWriter& lw, const uint16_t* words, size_t n);

// The label ATTR: and one DEFB line for each of `symbols` symbols; symbol i's
// four attribute bytes are at attributes + i * stride (a stride of 0 gives
// every symbol the same four).
void put_attribute_lines(ListingWriter& lw, const uint8_t* attributes, size_t symbols, size_t stride);

// Writes what is left and flushes. False when any write or the flush failed.
bool end_listing(ListingWriter& lw);

// A label prefix that pasmo, z80asm and GNU as all take as the start of a
// label: a letter or underscore, then letters, digits or underscores, at most
// 32 characters, ASCII only.
bool valid_label_prefix(std::string_view name);
