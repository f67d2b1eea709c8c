// decscreen's output: a screen as an uncompressed 24-bit BMP.
//
//  offset  size  field            value
//       0     2  bfType           "BM"
//       2     4  bfSize           54 + height * (3 * width + width % 4), the file's length
//       6     4  bfReserved1/2    0
//      10     4  bfOffBits        54
//      14     4  biSize           40
//      18     4  biWidth          the screen's width
//      22     4  biHeight         the screen's height (positive: bottom line first)
//      26     2  biPlanes         1
//      28     2  biBitCount       24
//      30    24  biCompression .. biClrImportant, all 0
//      54        rows, bottom line first; each row blue, green, red per pixel,
//                padded with zeros to a multiple of 4 bytes
//
// Each pixel has the colour of its symbol's attribute byte selected by its
// code, expanded from RGB332 by screen_rgb (common/rgb332.hpp), so that the
// brightest level of every channel is 252.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "common/cpu.hpp"
#include "common/screen.hpp"

// Bytes in one row of pixels: 3 per pixel, padded to a multiple of 4.
inline uint64_t bmp_row_size(uint32_t width) { return 3 * uint64_t(width) + width % 4; }

// The BMP's length, which must fit its 32-bit bfSize.
inline uint64_t bmp_file_size(uint32_t width, uint32_t height) { return 54 + height * bmp_row_size(width); }
inline constexpr uint64_t kMaxBmpFileSize = UINT32_MAX;

// The 54 bytes of headers above, for a width x height screen.
std::array<uint8_t, 54> bmp24_header(uint32_t width, uint32_t height);

// Row i of the pixel rows (0 = the bottom line of the picture), into
// bmp_row_size(width) bytes at `row`, padding included. Runs the SSSE3
// version where the processor has it, the portable one elsewhere; both
// write the same bytes, and nothing past the row.
void decode_bmp_row(const ScreenImage& s, uint32_t i, uint8_t* row);

// Each version, for the tests and the benchmarks. The SSSE3 one exists only
// in x86 builds and may be called only where cpu_has_ssse3().
void decode_bmp_row_portable(const ScreenImage& s, uint32_t i, uint8_t* row);
#if VORNE_X86_KERNELS
void decode_bmp_row_ssse3(const ScreenImage& s, uint32_t i, uint8_t* row);
#endif

// Writes the headers and every row to a stream opened for binary writing. A
// width or height that is not a multiple of 8 has pixels with no symbol of
// their own: they are black. False when a write or the final flush fails.
bool write_bmp24(std::FILE* out, const ScreenImage& s);
