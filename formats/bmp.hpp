// BMP, read and written.
//
// Reading: the headers of the 24-bit BMPs the encoders take.
//
// BITMAPFILEHEADER (14 bytes)        BITMAPINFOHEADER (40 bytes and more)
//   0  2  bfType "BM"   (ignored)      14  4  biSize        12 = OS/2 core header, see below
//   2  4  bfSize        (ignored)      18  4  biWidth       signed
//   6  4  reserved      (ignored)      22  4  biHeight      signed; negative = top-down
//  10  4  bfOffBits     start of       26  2  biPlanes      (ignored)
//                       the pixels     28  2  biBitCount    must be 24
//                                      30  4  biCompression 0 (BI_RGB) or 3 (BI_BITFIELDS)
//                                      54 12  with BI_BITFIELDS: the red, green and blue masks
//
// BITMAPCOREHEADER (OS/2, biSize 12; what ImageMagick's BMP2: writes)
//  18  2  width   unsigned
//  20  2  height  unsigned, always bottom-up
//  22  2  planes  (ignored)
//  24  2  bits a pixel, must be 24
//
// The pixels start at bfOffBits. Writers put larger info headers (108 bytes
// from GIMP, 124 from ImageMagick), bit masks or a palette before them; the
// gap is read through and dropped, never seeked over, so pipes work. An offset
// that points into the headers is taken as their end. The header is read in
// two steps, its first 18 bytes and then the rest of the info header that
// biSize announces, so nothing is read that might be pixels.
//
// GIMP writes plain 24-bit pictures as BI_BITFIELDS with the usual
// blue-green-red layout; any other layout of the masks (red in the low byte,
// say) would need the channels moved, and is refused rather than converted
// with its colours swapped.
//
// Writing: decscreen's output, a screen as an uncompressed 24-bit BMP.
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
// code, expanded from RGB332 by screen_rgb (colour/rgb332.hpp), so that the
// brightest level of every channel is 252.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include <span>

#include "formats/picture.hpp"
#include "formats/screen.hpp"
#include "io/cpu.hpp"

// Where the headers end: the file header, the OS/2 core header, the
// 40-byte info header, and the bit masks after it.
inline constexpr size_t kBmpFileHeaderSize = 14;
inline constexpr size_t kBmpCoreHeaderEnd = kBmpFileHeaderSize + 12;
inline constexpr size_t kBmpInfoHeaderEnd = kBmpFileHeaderSize + 40;
inline constexpr size_t kBmpMasksEnd = kBmpInfoHeaderEnd + 12;

// A BMP's headers as the reader takes them. The signature is not looked at
// (writers other than Windows' put "BA", "CI" or nothing there); an info
// header size other than 12 is read as the 40-byte header, whatever larger
// header follows it. This one parse is what the reader and the guard that
// keeps pictures from being overwritten both go by.
struct BmpHeader {
    int64_t width = 0, height = 0; // height made positive; top_down keeps its sign
    bool top_down = false;
    bool masks = false;            // BI_BITFIELDS, with the masks at 54
    uint32_t off_bits = 0;
    size_t end = 0; // the header bytes the parse needs: 18, 26, 54, or 66 with masks
};

// Parses the BMP headers from `hdr`, the file's first bytes, however many
// were read. Where they are too few for the headers, `truncated` with h.end
// past hdr.size(): the caller reads up to h.end and parses again. Otherwise
// ok, not_24bit, or bad_size (any side from 1 to 65528 with pad, a multiple
// of 8 without), with the fields parsed so far.
PictureError parse_bmp_header(std::span<const uint8_t> hdr, bool pad, BmpHeader& h);

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
