// The walk over a picture's symbols, shared by both encoders.
//
// The lines come from the last stage of the chain (pipeline/lines.hpp), which
// tells their width, height and order; both must be multiples of 8 there
// (the reader refuses other sizes unless the pad stage follows it). They are
// read a band of 8 lines (one symbol row) at a time into one
// reused buffer; each symbol is handed to the encoder where it lies in that
// band, and what the encoder makes of it goes straight to its place in a
// top-down screen. Only the screen is kept, a ninth of the picture's bytes.
//
// Where the rows go depends on what is known of the input. A regular file's
// size shows that its pixels are there (the header check refuses it
// otherwise), so the screen is allocated whole and each band lands in its
// final row: the last row first for a bottom-up BMP. From a pipe nothing is
// known, so the screen grows by a row for each band that arrives, memory
// following the bytes rather than the header's promise; the rows of a
// bottom-up picture then lie bottom row first and are turned round at the end.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <vector>

#include "io/bigbuf.hpp"
#include "io/parallel.hpp"
#include "pipeline/lines.hpp"
#include "formats/screen.hpp"

// What an encoder makes of one symbol: the raster words of its eight lines
// from its bottom line up, and its four attribute bytes.
struct SymbolRaster {
    std::array<uint16_t, 8> words;
    std::array<uint8_t, 4> attributes;
};

// How the rows of arrays of `rows` symbol rows are filled as bands arrive.
struct RowOrder {
    size_t rows = 0;
    bool whole = false;    // allocated whole, each band at its final row
    bool top_down = false; // bands arrive top row first
};

inline RowOrder row_order(const LineSource& src) { return {src.height / 8, src.promised, src.top_down}; }

// The row of the k-th band to arrive.
inline size_t row_of_band(const RowOrder& o, size_t k) { return o.whole && !o.top_down ? o.rows - 1 - k : k; }

// Makes room in `a`, of `per_row` elements a symbol row, for the k-th band.
template <class T>
void room_for_band(const RowOrder& o, BigArray<T>& a, size_t per_row, size_t k)
{
    if (!o.whole || k == 0)
        a.resize((o.whole ? o.rows : k + 1) * per_row, o.rows * per_row);
}

// Reads the picture in groups of bands and calls group(bottom, stride, k, n)
// for the n bands from the k-th to arrive, at least `group_bands` of them
// (fewer at the end): `bottom` is the first pixel of the first one's bottom
// line, each line above starts `stride` bytes further on, a negative step
// where lines arrive top line first, and band j of the group lies 8 lines'
// bytes times j further on. The source is finished afterwards (a PNG is
// read to its end). A group that takes two more arguments, group(bottom,
// stride, k, n, clear, clear_stride), gets the transparency of the same
// pixels as well, a byte a pixel laid out as the pixels (clear_stride a
// line), or nullptr where the lines have none.
template <class Group>
PictureError for_each_band_group(const LineSource& src, size_t group_bands, Group&& group)
{
    const size_t line = 3 * size_t(src.width), band_bytes = 8 * line, bands = src.height / 8;
    // From a pipe, a picture of 2 MiB or more is read 512 KiB of bands at a
    // time. Each read that finds the pipe full wakes the program writing into
    // it, and a wake-up across processors is dear on a virtual machine; a
    // read of half what the pipe holds (1 MiB, see widen_pipe) wakes it twice
    // a pipeful and leaves it room to write the other half while these bands
    // are encoded (reads of a whole pipeful left the two taking turns). The
    // buffer is one 2 MiB huge page, one first touch. A smaller picture is
    // read a band at a time: a buffer would cost more first touches than it
    // saves wake-ups.
    const bool batch = src.piped && uint64_t(band_bytes) * bands >= (uint64_t(2) << 20);
    const size_t per_read = std::min(std::max<size_t>(bands, 1),
        std::max(group_bands, batch ? std::max<size_t>(1, (size_t(512) << 10) / band_bytes) : 1));
    BigArray<uint8_t> buf;
    buf.resize(batch ? std::max(per_read * band_bytes, size_t(2) << 20) : per_read * band_bytes);
    const ptrdiff_t stride = src.top_down ? -ptrdiff_t(line) : ptrdiff_t(line);
    const uint8_t* bottom = src.top_down ? buf.data() + 7 * line : buf.data();
    // The transparency, where the lines have it: a byte a pixel.
    constexpr bool wants_clear = std::is_invocable_v<Group&, const uint8_t*, ptrdiff_t, size_t, size_t, const uint8_t*, ptrdiff_t>;
    const size_t width = src.width;
    std::vector<uint8_t> clear(wants_clear && src.alpha ? per_read * 8 * width : 0);
    const ptrdiff_t clear_stride = src.top_down ? -ptrdiff_t(width) : ptrdiff_t(width);
    const uint8_t* clear_bottom = clear.empty() ? nullptr : src.top_down ? clear.data() + 7 * width : clear.data();
    for (size_t k = 0; k < bands;) {
        const size_t n = std::min(per_read, bands - k);
        if (const PictureError e = read_lines(src, buf.data(), line, uint32_t(8 * n),
                                              clear.empty() ? nullptr : clear.data(), width);
            e != PictureError::ok)
            return e;
        if constexpr (wants_clear)
            group(bottom, stride, k, n, clear_bottom, clear_stride);
        else
            group(bottom, stride, k, n);
        k += n;
    }
    return finish_lines(src);
}

// The same a band at a time: band(bottom, stride, k) for the k-th band, or
// band(bottom, stride, k, clear, clear_stride) with its transparency.
template <class Band>
PictureError for_each_band(const LineSource& src, Band&& band)
{
    const size_t band_bytes = 24 * size_t(src.width), clear_bytes = 8 * size_t(src.width);
    if constexpr (std::is_invocable_v<Band&, const uint8_t*, ptrdiff_t, size_t, const uint8_t*, ptrdiff_t>)
        return for_each_band_group(src, 1,
                                   [&](const uint8_t* bottom, ptrdiff_t stride, size_t k, size_t n,
                                       const uint8_t* clear, ptrdiff_t clear_stride) {
                                       for (size_t j = 0; j < n; ++j)
                                           band(bottom + j * band_bytes, stride, k + j,
                                                clear ? clear + j * clear_bytes : nullptr, clear_stride);
                                   });
    else
        return for_each_band_group(src, 1, [&](const uint8_t* bottom, ptrdiff_t stride, size_t k, size_t n) {
            for (size_t j = 0; j < n; ++j)
                band(bottom + j * band_bytes, stride, k + j);
        });
}

// Puts one symbol's raster words and attributes at column sx of symbol row
// `row` of the screen.
inline void put_symbol(ScreenImage& s, size_t row, size_t sx, const SymbolRaster& q)
{
    const size_t n = symbol_columns(s);
    // The row's top line; the symbol's line r from the bottom is line 7 - r.
    uint16_t* words = s.raster.data() + 8 * row * n;
    for (size_t r = 0; r < 8; ++r)
        words[(7 - r) * n + sx] = q.words[r];
    std::memcpy(s.attributes.data() + (row * n + sx) * 4, q.attributes.data(), 4);
}

// Encodes the n symbols of one band into symbol row `row` of the screen.
// encode(first, stride) gets the first pixel of the symbol's bottom line, each
// line above `stride` bytes on, `pixel_bytes` bytes a pixel.
template <class Encode>
void encode_band(ScreenImage& s, size_t row, const uint8_t* bottom, ptrdiff_t stride, size_t pixel_bytes,
                 Encode&& encode)
{
    const size_t n = symbol_columns(s);
    // put_symbol's places, with the row's pointers taken once.
    uint16_t* words = s.raster.data() + 8 * row * n;
    uint8_t* attributes = s.attributes.data() + row * n * 4;
    for (size_t sx = 0; sx < n; ++sx) {
        const SymbolRaster q = encode(bottom + 8 * pixel_bytes * sx, stride);
        for (size_t r = 0; r < 8; ++r)
            words[(7 - r) * n + sx] = q.words[r];
        std::memcpy(attributes + 4 * sx, q.attributes.data(), 4);
    }
}

// The whole walk over a picture being read: the screen of its size, every
// symbol encoded from its blue-green-red pixels.
template <class Encode>
PictureError encode_picture(const LineSource& src, ScreenImage& s, Encode&& encode)
{
    s = ScreenImage{};
    s.width = src.width;
    s.height = src.height;
    const size_t n = symbol_columns(s);
    const RowOrder order = row_order(src);
    const PictureError e = for_each_band(src, [&](const uint8_t* bottom, ptrdiff_t stride, size_t k) {
        room_for_band(order, s.raster, 8 * n, k);
        room_for_band(order, s.attributes, 4 * n, k);
        encode_band(s, row_of_band(order, k), bottom, stride, 3, encode);
    });
    if (e == PictureError::ok && !order.whole && !order.top_down)
        reverse_symbol_rows(s, order.rows);
    return e;
}

// A conversion whose symbols cost tens of microseconds each (the perceptual
// and dithered ones) over `threads` threads: the bands are read in groups of
// at least kGroupSymbols symbols, and the group's symbols are shared out in
// chunks of kSymbolChunk (io/parallel.hpp), each written to its own place in
// the screen, which is sized for the group before any thread starts. The
// bytes are those of one thread. A thread gets at least kThreadSymbols
// symbols of a group: starting one costs about as much as a symbol.
inline constexpr size_t kGroupSymbols = 4096, kSymbolChunk = 32, kThreadSymbols = 64;

template <class Encode>
PictureError encode_picture(const LineSource& src, ScreenImage& s, unsigned threads, const Encode& encode)
{
    s = ScreenImage{};
    s.width = src.width;
    s.height = src.height;
    const size_t n = symbol_columns(s), band_bytes = 24 * size_t(src.width);
    const RowOrder order = row_order(src);
    const size_t group_bands = std::max<size_t>(1, kGroupSymbols / std::max<size_t>(n, 1));
    const PictureError e =
        for_each_band_group(src, group_bands, [&](const uint8_t* bottom, ptrdiff_t stride, size_t k, size_t bands) {
            for (size_t j = 0; j < bands; ++j) {
                room_for_band(order, s.raster, 8 * n, k + j);
                room_for_band(order, s.attributes, 4 * n, k + j);
            }
            const size_t symbols = bands * n;
            parallel_chunks(threads_for(threads, symbols, kSymbolChunk, kThreadSymbols), symbols, kSymbolChunk,
                            [&](size_t begin, size_t end, unsigned) {
                                for (size_t i = begin; i < end; ++i) {
                                    const size_t j = i / n, sx = i % n;
                                    put_symbol(s, row_of_band(order, k + j), sx,
                                               encode(bottom + j * band_bytes + 24 * sx, stride));
                                }
                            });
        });
    if (e == PictureError::ok && !order.whole && !order.top_down)
        reverse_symbol_rows(s, order.rows);
    return e;
}
