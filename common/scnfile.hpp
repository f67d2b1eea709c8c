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
// words are not checked, and bytes after the attributes are ignored.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/input.hpp"
#include "common/screen.hpp"

inline constexpr size_t kScreenHeaderSize = 16;

// The length of the screen file of a width x height screen.
uint64_t screen_file_size(uint32_t width, uint32_t height);

// Writes header, raster and attributes to a stream opened for binary writing.
// False when a write or the final flush fails.
bool write_screen_file(std::FILE* out, const ScreenImage& s);

// False when the file ends before the attributes do.
bool read_screen_file(Input& in, ScreenImage& s);
