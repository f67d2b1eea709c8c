// A whole picture in memory, bottom line first, as the tests, the fuzz
// targets and the benchmarks want it to compare against. The programs never
// hold a picture whole: they read it a band at a time (formats/picture.hpp),
// and never link this library.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/picture.hpp"

// The picture as stored in a bottom-up BMP: line 0 of `pixels` is the bottom
// line of the picture; each line w pixels of blue, green, red, no padding.
// A top-down picture is turned into this order as it is loaded, so h is positive.
struct BmpPixels {
    int32_t w = 0;
    int32_t h = 0;
    std::vector<uint8_t> pixels;
};

using BmpError = PictureError;

inline constexpr size_t kBmpHeaderSize = 54;

// Reads a whole picture from an open input, which is closed afterwards.
BmpError read_bmp24(Input& in, BmpPixels& out);

// Opens `path` and reads the whole picture.
BmpError load_bmp24(const char* path, BmpPixels& out);
