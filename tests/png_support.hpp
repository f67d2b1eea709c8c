// PNG files for the tests, written byte by byte so that every colour type,
// bit depth, tRNS, interlacing and every kind of damage can be made exactly.
#pragma once

#include <string>
#include <vector>

#include "support.hpp"

struct PngContent {
    uint32_t w = 0, h = 0;
    uint8_t colour_type = 2; // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
    uint8_t depth = 8;       // bits a sample: 1, 2, 4, 8 or 16
    bool interlaced = false; // Adam7
    std::vector<uint16_t> samples; // top line first, channels per pixel in PNG order; indices for a palette
    Bytes plte;                    // 3 bytes a palette entry
    Bytes trns;                    // the tRNS chunk's body, none when empty
    std::vector<std::pair<std::string, Bytes>> extra; // chunks written before the first IDAT
};

int png_channels(uint8_t colour_type);

// One chunk: length, type, body, CRC.
Bytes png_chunk(const std::string& type, const Bytes& body);

// The whole file. The image data is split over two IDAT chunks.
Bytes encode_png(const PngContent& s);

// The length of the body of the chunk starting at `at`.
size_t chunk_length(const Bytes& png, size_t at);

// Where the chunk of the given type starts (its length field), or npos.
size_t find_chunk(const Bytes& png, const std::string& type, size_t from = 8);

// Recomputes the CRC of the chunk starting at `at`, after its body was changed.
void fix_crc(Bytes& png, size_t at);
