// PNG pictures in and out, through libpng.
//
// This module alone calls libpng. libpng reports errors by longjmp, which
// must never cross a C++ destructor, so everything here is plain C-style data
// at the edges: opaque handles, raw row pointers and status values. The rest
// of the code sees an error value, as from the BMP reader.
//
// Rows in and out are 3 bytes a pixel in the order blue, green, red (the
// order of a BMP pixel), so that both picture formats feed the same walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "io/input.hpp"

inline constexpr size_t kPngSignatureSize = 8;

// True when `head` (at least 8 bytes) starts with the PNG signature.
bool is_png_signature(std::span<const uint8_t> head);

enum class PngStatus {
    ok,
    damaged,   // bad CRC on a critical chunk, broken zlib data, missing chunks, ends early
    bad_size,  // width or height not a positive multiple of 8 up to 65528 (with any_size: 0 or above 65528)
    no_memory, // an allocation failed
};

struct PngReader; // libpng's reading state; opaque

// Starts reading a PNG from `in`, whose 8 signature bytes have already been
// read. Checks the size from IHDR before libpng reads any further (bad_size,
// even when nothing follows), then reads up to the first image data. With
// any_size, sides need not be multiples of 8 (the caller pads them). On ok,
// `reader` must later go to png_read_finish or png_read_abort; on anything
// else there is no reader; on bad_size, `width` and `height` are the size
// refused, for the diagnostic.
PngStatus png_read_start(Input& in, PngReader*& reader, uint32_t& width, uint32_t& height, bool any_size = false);

// The next `count` rows of the picture, top line first: row k goes to
// bgr + k * stride (a negative stride fills upward), width pixels of blue,
// green, red. 16-bit samples become 8-bit as floor(v / 257); alpha is
// composited over black as floor(c * a / 255). A picture that is not
// interlaced is decoded row by row into one row buffer; of an interlaced one
// the first call reads the six passes that hold the even lines, kept as
// stored row by row as they arrive, and odd lines come from the last pass a
// row at a time; each held row is freed once handed out. After a failure only
// png_read_abort may follow. Asking for more rows than are left is damaged.
// Where `clear` is given, row k's transparency goes to clear + k *
// clear_stride as well, a byte a pixel: 1 where the alpha (after the 16-bit
// reduction) is below 128, 0 elsewhere.
PngStatus png_read_rows(PngReader* reader, uint8_t* bgr, ptrdiff_t stride, uint32_t count, uint8_t* clear = nullptr,
                        ptrdiff_t clear_stride = 0);

// Whether the picture can have transparent pixels: it has an alpha channel
// or a tRNS chunk.
bool png_has_transparency(const PngReader* reader);

// After the last row: reads the rest of the file up to IEND (the zlib
// checksum and data past the picture's end are checked there), then frees
// the reader. Called before the last row, it frees the reader and says damaged.
PngStatus png_read_finish(PngReader* reader);

// Frees the reader without reading further.
void png_read_abort(PngReader* reader);

struct PngWriter; // libpng's writing state; opaque

// Starts an 8-bit RGB, non-interlaced PNG of width x height on `out`, whose
// every write is checked. Where `software` is given, a tEXt chunk "Software"
// with that text follows the IHDR. False when the start cannot be written,
// memory runs out, or a side is 0, which PNG does not allow.
bool png_write_start(std::FILE* out, uint32_t width, uint32_t height, PngWriter*& writer,
                     const char* software = nullptr);

// The next `count` rows, top line first: row k at bgr + k * stride, width
// pixels of blue, green, red. False when a write fails; then only
// png_write_abort may follow.
bool png_write_rows(PngWriter* writer, const uint8_t* bgr, ptrdiff_t stride, uint32_t count);

// Writes the end of the file and frees the writer; false when a write fails.
bool png_write_finish(PngWriter* writer);

// Frees the writer without finishing the file.
void png_write_abort(PngWriter* writer);
