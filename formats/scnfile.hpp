// The screen file (".scn"): a ScreenImage on disk. Little-endian throughout.
//
//  offset  size            content
//       0  2               signature 0x4353, the bytes "S" "C"
//       2  2               0
//       4  2               0
//       6  2               16
//       8  2               width in pixels
//      10  2               height in lines
//      12  2               16
//      14  2               2
//      16  2 * n * height  raster words, top line first, each word little-endian
//       …  4 * n * hc      attribute bytes, top symbol row first, bytes 0..3 of each symbol
//
// with n = width >> 3 and hc = height >> 3; nothing follows the attributes.
// Because a word is stored little-endian, the first byte of a raster word holds
// pixels 4..7 of its eight and the second byte pixels 0..3.
//
// The reader looks only at width and height: the signature and the constant
// words are not checked (other writers may differ there), and bytes after the
// attributes are ignored. A width or height of 0 is no screen: it is what a
// BMP, a PNG or a file of zeros shows at offsets 8 and 10, so such a file is
// refused before anything else is read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "io/input.hpp"
#include "formats/screen.hpp"

inline constexpr size_t kScreenHeaderSize = 16;

// The length of the screen file of a width x height screen.
uint64_t screen_file_size(uint32_t width, uint32_t height);

// Writes header, raster and attributes to a stream opened for binary writing.
// False when a write or the final flush fails.
bool write_screen_file(std::FILE* out, const ScreenImage& s);

// The pieces of a screen file, for a writer that makes the raster as it goes:
// the 16-byte header, then raster words (little-endian whatever the host) in
// as many calls as it takes. False when a write fails.
bool write_screen_header(std::FILE* out, uint32_t width, uint32_t height);
bool write_raster_words(std::FILE* out, std::span<const uint16_t> words);

enum class ScnError {
    ok,
    cannot_open, // the file cannot be opened
    truncated,   // the file ends before the attributes do
    not_screen,  // width or height 0
    too_large,   // refused by the caller's size check
};

// The header as the reader takes it, from its first bytes: truncated where
// there are fewer than 16, not_screen where the width or height is 0.
ScnError parse_screen_header(std::span<const uint8_t> hdr, uint32_t& width, uint32_t& height);

// Whether the reader takes a file of `size` bytes that starts with `head`
// for a screen file: its header, and at least the bytes that it announces.
// What the guard keeps from being overwritten goes by this.
bool is_screen_file(std::span<const uint8_t> head, uint64_t size);

// The 16-byte header: sets width and height, allocates nothing. The bytes
// read go to `head` where it is given.
ScnError read_screen_header(Input& in, ScreenImage& s, uint8_t* head = nullptr);

// The raster and the attributes that the header announced. With the size
// known, a file too short is refused before anything is allocated; from a
// pipe the arrays grow with the bytes that arrive.
ScnError read_screen_body(Input& in, ScreenImage& s);

// What the reader found where it failed, for the programs' diagnostics.
struct ScreenReport {
    int error = 0;                          // cannot_open: the system's reason (errno)
    uint8_t head[kScreenHeaderSize] = {};   // the header's bytes, as far as they were read
    uint64_t got = 0;                       // the bytes read
    uint64_t size = kUnknownSize;           // the bytes the file has, where known
    uint32_t width = 0, height = 0;         // as the header gives them
    uint64_t needed = kScreenHeaderSize;    // the bytes such a screen file needs
};

// Opens `path`, reads the header, asks `fits` whether a screen of its size
// can be handled (too_large if not) before reading the body, then closes it.
ScnError load_screen_file(const char* path, ScreenImage& s, bool (*fits)(uint32_t width, uint32_t height),
                          ScreenReport* report = nullptr);
