// 24-bit BMP input.
//
// BITMAPFILEHEADER (14 bytes)        BITMAPINFOHEADER (40 bytes and more)
//   0  2  bfType "BM"   (ignored)      14  4  biSize        (ignored)
//   2  4  bfSize        (ignored)      18  4  biWidth       signed
//   6  4  reserved      (ignored)      22  4  biHeight      signed; negative = top-down
//  10  4  bfOffBits     start of       26  2  biPlanes      (ignored)
//                       the pixels     28  2  biBitCount    must be 24
//                                      30  4  biCompression 0 (BI_RGB) or 3 (BI_BITFIELDS)
//
// The pixels start at bfOffBits. Writers put larger info headers (108 bytes
// from GIMP, 124 from ImageMagick), bit masks or a palette before them; the
// gap is read through and dropped, never seeked over, so pipes work. An offset
// below 54 would point into the headers and is taken as 54. GIMP writes plain
// 24-bit pictures as BI_BITFIELDS with the usual blue-green-red layout, so the
// masks are not looked at.
//
// Each line holds biWidth pixels of blue, green, red, padded to a multiple of 4
// bytes; screens are multiples of 8 pixels wide, so lines need no padding.
#pragma once

#include <cstdint>

#include "common/input.hpp"

// The picture as stored in a bottom-up BMP: line 0 of `pixels` is the bottom
// line of the picture; each line w pixels of blue, green, red, no padding.
// A top-down file is turned into this order as it is loaded, so h is positive.
struct BmpPixels {
    int32_t w = 0;
    int32_t h = 0;
    ByteBuffer pixels;
};

enum class BmpError {
    ok,
    cannot_open, // the file cannot be opened
    not_24bit,   // shorter than its headers, not 24 bits a pixel, or compressed
    bad_size,    // width or height not a positive multiple of 8 up to 65528
    truncated,   // fewer pixel bytes than the header promises
};

inline constexpr size_t kBmpHeaderSize = 54;

BmpError read_bmp24(Input& in, BmpPixels& out);

// Opens `path`, reads the picture and closes the file again.
BmpError load_bmp24(const char* path, BmpPixels& out);

// The message a program prints for a failure, and whether it goes to standard
// error (the picture's own faults) or standard output (the file's absence).
struct ErrorMessage {
    const char* text;
    bool to_stderr;
};
ErrorMessage bmp_error_message(BmpError e);
