// BMP: the headers of the pictures the encoders read, parsed; a screen decoded
// into BMP rows, portably and with SSSE3, and written as decscreen's BMP.
#include "formats/bmp.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "io/files.hpp"
#include "formats/le.hpp"

#if VORNE_X86_KERNELS
#include <tmmintrin.h>
#endif

namespace {

// Every attribute byte's colour as the bytes blue, green, red of a
// little-endian 32-bit word: one table look-up, and a pixel is one store.
const std::array<uint32_t, 256> kExpanded = [] {
    std::array<uint32_t, 256> t{};
    for (unsigned a = 0; a < 256; ++a) {
        const std::array<uint8_t, 3> c = screen_rgb(uint8_t(a));
        t[a] = uint32_t(c[2]) | uint32_t(c[1]) << 8 | uint32_t(c[0]) << 16;
    }
    return t;
}();

void put_pixel(uint8_t* px, uint32_t bgr, size_t bytes)
{
    const uint8_t b[4] = {uint8_t(bgr), uint8_t(bgr >> 8), uint8_t(bgr >> 16), 0};
    std::memcpy(px, b, bytes);
}

// Where row i's symbols are: its raster words and its symbols' attribute
// bytes. Row i from the bottom is raster line height-1-i. Its symbol row is
// counted from the bottom too, so that for a height that is not a multiple
// of 8 the lines encscreen filled meet their own symbols; the top height%8
// rows then have no symbols (null) and stay black.
struct RowSymbols {
    const uint16_t* words;
    const uint8_t* attributes;
};

RowSymbols row_symbols(const ScreenImage& s, uint32_t i)
{
    const size_t n = symbol_columns(s), hc = symbol_rows(s);
    if (i >= 8 * hc)
        return {nullptr, nullptr};
    return {s.raster.data() + (s.height - 1 - i) * n, s.attributes.data() + (hc - 1 - (i >> 3)) * n * 4};
}

// Symbols [first, n) of a row, by the table: four bytes a pixel, the fourth
// overwritten by the next pixel; the symbol's last pixel takes three, so
// nothing is written past it.
void decode_symbols(RowSymbols r, size_t first, size_t n, uint8_t* row)
{
    const uint8_t* attrs = r.attributes + 4 * first;
    uint8_t* px = row + 24 * first;
    for (size_t sx = first; sx < n; ++sx, attrs += 4, px += 24) {
        const uint32_t colour[4] = {kExpanded[attrs[0]], kExpanded[attrs[1]], kExpanded[attrs[2]],
                                    kExpanded[attrs[3]]};
        const unsigned word = r.words[sx];
        for (unsigned c = 0; c < 7; ++c)
            put_pixel(px + 3 * c, colour[(word >> (14 - 2 * c)) & 3], 4);
        put_pixel(px + 21, colour[word & 3], 3);
    }
}

#if VORNE_X86_KERNELS
// For each byte of a raster word (the codes of four pixels, the leftmost in
// the top bits), the byte shuffle that makes the four pixels' 12 bytes out
// of a register of the symbol's four colours as kExpanded words: byte k of
// the pixel with code c is byte 4c + k. The last four bytes come out zero.
alignas(16) const std::array<std::array<int8_t, 16>, 256> kPickColours = [] {
    std::array<std::array<int8_t, 16>, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        for (unsigned m = 0; m < 12; ++m)
            t[v][m] = int8_t(4 * ((v >> (6 - 2 * (m / 3))) & 3) + m % 3);
        for (unsigned m = 12; m < 16; ++m)
            t[v][m] = -1;
    }
    return t;
}();
#endif

} // namespace

void decode_bmp_row_portable(const ScreenImage& s, uint32_t i, uint8_t* row)
{
    const size_t n = symbol_columns(s);
    const RowSymbols r = row_symbols(s, i);
    const size_t done = r.words ? n : 0;
    if (r.words)
        decode_symbols(r, 0, n, row);
    // Columns past the last whole symbol, and the padding, are zero.
    std::memset(row + 24 * done, 0, size_t(bmp_row_size(s.width)) - 24 * done);
}

#if VORNE_X86_KERNELS
// A symbol is two byte shuffles of its four colours, one per byte of its
// raster word, each stored as 16 bytes of which the last four are
// overwritten by what follows. The row's last symbol is left to the table
// where fewer than four bytes of the row follow it.
__attribute__((target("ssse3"))) void decode_bmp_row_ssse3(const ScreenImage& s, uint32_t i, uint8_t* row)
{
    const size_t n = symbol_columns(s), size = size_t(bmp_row_size(s.width));
    const RowSymbols r = row_symbols(s, i);
    const size_t done = r.words ? n : 0;
    const size_t fast = done > 0 && size - 24 * done < 4 ? done - 1 : done;
    uint8_t* px = row;
    for (size_t sx = 0; sx < fast; ++sx, px += 24) {
        const uint8_t* a = r.attributes + 4 * sx;
        const __m128i colours = _mm_setr_epi32(int(kExpanded[a[0]]), int(kExpanded[a[1]]), int(kExpanded[a[2]]),
                                               int(kExpanded[a[3]]));
        const unsigned word = r.words[sx];
        const __m128i left = _mm_load_si128(reinterpret_cast<const __m128i*>(kPickColours[word >> 8].data()));
        const __m128i right = _mm_load_si128(reinterpret_cast<const __m128i*>(kPickColours[word & 0xFF].data()));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(px), _mm_shuffle_epi8(colours, left));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(px + 12), _mm_shuffle_epi8(colours, right));
    }
    if (fast < done)
        decode_symbols(r, fast, done, row);
    std::memset(row + 24 * done, 0, size - 24 * done);
}
#endif

void decode_bmp_row(const ScreenImage& s, uint32_t i, uint8_t* row)
{
#if VORNE_X86_KERNELS
    if (cpu_has_ssse3()) {
        decode_bmp_row_ssse3(s, i, row);
        return;
    }
#endif
    decode_bmp_row_portable(s, i, row);
}

std::array<uint8_t, 54> bmp24_header(uint32_t width, uint32_t height)
{
    std::array<uint8_t, 54> hdr{};
    hdr[0] = 'B';
    hdr[1] = 'M';
    put_le32(hdr, 2, uint32_t(bmp_file_size(width, height)));
    put_le32(hdr, 10, 54);
    put_le32(hdr, 14, 40);
    put_le32(hdr, 18, width);
    put_le32(hdr, 22, height);
    put_le16(hdr, 26, 1);
    put_le16(hdr, 28, 24);
    return hdr;
}

bool write_bmp24(std::FILE* out, const ScreenImage& s)
{
    const std::array<uint8_t, 54> hdr = bmp24_header(s.width, s.height);
    if (std::fwrite(hdr.data(), 1, hdr.size(), out) != hdr.size())
        return false;

    // Rows are decoded into a block and written a block at a time. Every
    // write to a file costs the system a fixed amount besides the copy:
    // blocks of 64 KiB made decscreen's system time at 4096x4096 half as much
    // again (30 ms against 20 with 2 MiB). So a BMP of 2 MiB or more gets
    // blocks of about 2 MiB, one huge page and so one first touch; a smaller
    // one keeps blocks of 64 KiB, which cost fewer first touches than the
    // writes they add.
    const size_t row = size_t(bmp_row_size(s.width));
    if (row == 0)
        return std::fflush(out) == 0 && !std::ferror(out);
    const size_t target = uint64_t(row) * s.height >= (uint64_t(2) << 20) ? size_t(2) << 20 : size_t(64) << 10;
    const size_t rows_per_block = std::max<size_t>(1, target / row);
    BigArray<uint8_t> block;
    block.resize(row * std::min<size_t>(rows_per_block, s.height));
    // A screen under 8 pixels wide has no whole symbol: each of its rows is
    // all zero, as the new block already is, however many there are.
    const bool blank = symbol_columns(s) == 0;
    WriteBack wb;
    for (uint32_t i = 0; i < s.height;) {
        const uint32_t count = uint32_t(std::min<size_t>(rows_per_block, s.height - i));
        for (uint32_t k = 0; k < count && !blank; ++k)
            decode_bmp_row(s, i + k, block.data() + k * row);
        if (std::fwrite(block.data(), 1, count * row, out) != count * row)
            return false;
        count_written(out, wb, count * row);
        i += count;
    }
    return std::fflush(out) == 0 && !std::ferror(out);
}

namespace {

bool valid_side(int64_t v, bool pad) { return v > 0 && v <= kMaxScreenSide && (pad || v % 8 == 0); }

} // namespace

PictureError parse_bmp_header(std::span<const uint8_t> hdr, bool pad, BmpHeader& h)
{
    h = BmpHeader{};
    h.end = kBmpFileHeaderSize + 4;
    if (hdr.size() < h.end)
        return PictureError::truncated;
    h.off_bits = get_le32(hdr, 10);
    const bool core = get_le32(hdr, 14) == 12;
    h.end = core ? kBmpCoreHeaderEnd : kBmpInfoHeaderEnd;
    if (hdr.size() < h.end)
        return PictureError::truncated;
    uint32_t compression = 0;
    uint16_t bit_count;
    if (core) {
        h.width = get_le16(hdr, 18);
        h.height = get_le16(hdr, 20);
        bit_count = get_le16(hdr, 24);
    } else {
        h.width = int32_t(get_le32(hdr, 18));
        h.height = int32_t(get_le32(hdr, 22));
        bit_count = get_le16(hdr, 28);
        compression = get_le32(hdr, 30);
    }
    // A negative height marks a top-down file. Negated in 64 bits: -INT32_MIN does not fit.
    h.top_down = h.height < 0;
    if (h.top_down)
        h.height = -h.height;
    if (bit_count != 24 || (compression != 0 && compression != 3))
        return PictureError::not_24bit;
    if (!valid_side(h.width, pad) || !valid_side(h.height, pad))
        return PictureError::bad_size;
    if (compression != 3)
        return PictureError::ok;

    // The masks come after the 40-byte header, or inside a larger one; pixels
    // that start before them leave no room for them.
    h.masks = true;
    if (h.off_bits < kBmpMasksEnd)
        return PictureError::not_24bit;
    h.end = kBmpMasksEnd;
    if (hdr.size() < h.end)
        return PictureError::truncated;
    if (get_le32(hdr, 54) != 0x00FF0000 || get_le32(hdr, 58) != 0x0000FF00 || get_le32(hdr, 62) != 0x000000FF)
        return PictureError::not_24bit;
    return PictureError::ok;
}
