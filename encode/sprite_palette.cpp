// Choosing the extreme palette, packing lines to RGB332 and coding them into
// raster words through a palette's table, and reading a picture of sprites a
// band at a time.
#include "encode/sprite_palette.hpp"

#include <algorithm>
#include <array>

#include "pipeline/walk.hpp"

#if VORNE_X86_KERNELS
#include <immintrin.h>
#endif

ExtremePalette palette_of(const std::array<bool, 256>& seen)
{
    if (std::find(seen.begin(), seen.end(), true) == seen.end())
        return {0, 0, 0, 0};
    ExtremePalette p{0, 0, 0, 255};
    for (unsigned v = 0; v < 256; ++v)
        if (seen[v]) {
            p.mn = uint8_t(v);
            break;
        }
    for (unsigned v = 256; v-- > 0;)
        if (seen[v]) {
            p.mx = uint8_t(v);
            break;
        }
    p.lo2 = p.mx;
    p.hi2 = p.mn;
    for (unsigned v = p.mn + 1u; v < p.mx; ++v)
        if (seen[v]) {
            p.lo2 = uint8_t(v);
            break;
        }
    for (unsigned v = p.mx; v-- > p.mn + 1u;)
        if (seen[v]) {
            p.hi2 = uint8_t(v);
            break;
        }
    return p;
}

void pack_line_portable(const uint8_t* bgr, uint8_t* values, size_t n, ValueCounts& counts)
{
    for (size_t x = 0; x < n; ++x, bgr += 3)
        values[x] = pack_rgb332(bgr[2], bgr[1], bgr[0]);
    count_values(values, n, counts);
}

#if VORNE_X86_KERNELS
namespace {

// Byte shuffles that gather one channel (0 blue, 1 green, 2 red) of 16
// pixels, 48 bytes, from the 16-byte part k of them: lane i takes byte
// 3i + channel where it lies in part k, and zero (0x80) elsewhere.
using Shuffles = std::array<std::array<std::array<int8_t, 16>, 3>, 3>;
alignas(16) constexpr Shuffles kGather = [] {
    Shuffles t{};
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 16; ++i) {
                const int at = 3 * i + c - 16 * k;
                t[size_t(c)][size_t(k)][size_t(i)] = at >= 0 && at < 16 ? int8_t(at) : int8_t(-128);
            }
    return t;
}();

__attribute__((target("ssse3"))) inline __m128i gather(const __m128i (&part)[3], int c)
{
    const auto mask = [&](int k) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(kGather[size_t(c)][size_t(k)].data()));
    };
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(part[0], mask(0)), _mm_shuffle_epi8(part[1], mask(1))),
                        _mm_shuffle_epi8(part[2], mask(2)));
}

} // namespace

__attribute__((target("ssse3"))) void pack_line_ssse3(const uint8_t* bgr, uint8_t* values, size_t n,
                                                      ValueCounts& counts)
{
    size_t x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m128i part[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 3 * x)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 3 * x + 16)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 3 * x + 32))};
        // The shifts are of 16-bit lanes: the bits that come down from the
        // neighbouring byte fall outside the masks.
        const __m128i r = _mm_and_si128(gather(part, 2), _mm_set1_epi8(char(0xE0)));
        const __m128i g = _mm_and_si128(_mm_srli_epi16(gather(part, 1), 3), _mm_set1_epi8(0x1C));
        const __m128i b = _mm_and_si128(_mm_srli_epi16(gather(part, 0), 6), _mm_set1_epi8(0x03));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(values + x), _mm_or_si128(r, _mm_or_si128(g, b)));
    }
    // Counted from the line just stored, still in the nearest cache.
    count_values(values, x, counts);
    pack_line_portable(bgr + 3 * x, values + x, n - x, counts);
}
#endif

void pack_line(const uint8_t* bgr, uint8_t* values, size_t n, ValueCounts& counts)
{
#if VORNE_X86_KERNELS
    if (cpu_has_ssse3()) {
        pack_line_ssse3(bgr, values, n, counts);
        return;
    }
#endif
    pack_line_portable(bgr, values, n, counts);
}

SpritePalette extreme_palette(const ExtremePalette& p)
{
    SpritePalette out;
    out.attributes = {p.mx, p.hi2, p.lo2, p.mn};
    for (unsigned v = 0; v < 256; ++v)
        set_code(out, uint8_t(v), code_for_value(p, uint8_t(v)));
    return out;
}

void code_words_portable(const uint8_t* values, size_t n, const SpritePalette& p, uint16_t* words)
{
    // The codes unpacked into a byte each first: a look-up a value.
    std::array<PixelCode, 256> table;
    for (unsigned v = 0; v < 256; ++v)
        table[v] = code_of(p, uint8_t(v));
    for (size_t i = 0; i < n; ++i, values += 8) {
        unsigned word = 0;
        for (size_t c = 0; c < 8; ++c)
            word = (word << 2) | table[values[c]];
        words[i] = uint16_t(word);
    }
}

#if VORNE_X86_KERNELS
namespace {

// The few words at a line's end that a kernel leaves, value by value.
void code_words_direct(const uint8_t* values, size_t n, const SpritePalette& p, uint16_t* words)
{
    for (size_t i = 0; i < n; ++i, values += 8) {
        unsigned word = 0;
        for (size_t c = 0; c < 8; ++c)
            word = (word << 2) | code_of(p, values[c]);
        words[i] = uint16_t(word);
    }
}

// 0xFF where the plane (its halves half0, half1) has the bit of the value,
// looked up by the byte shuffles' indices from_lower and from_upper and the
// bit's mask.
__attribute__((target("ssse3"))) inline __m128i plane_bit(__m128i half0, __m128i half1, __m128i from_lower,
                                                          __m128i from_upper, __m128i mask)
{
    const __m128i byte = _mm_or_si128(_mm_shuffle_epi8(half0, from_lower), _mm_shuffle_epi8(half1, from_upper));
    return _mm_cmpeq_epi8(_mm_and_si128(byte, mask), mask);
}

} // namespace

__attribute__((target("ssse3"))) void code_words_ssse3(const uint8_t* values, size_t n, const SpritePalette& p,
                                                       uint16_t* words)
{
    const auto load = [](const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
    // The planes' halves: values 0 .. 127 and 128 .. 255, 16 bytes each.
    const __m128i low0 = load(p.low.data()), low1 = load(p.low.data() + 16);
    const __m128i high0 = load(p.high.data()), high1 = load(p.high.data() + 16);
    const __m128i bit_of = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    const __m128i top = _mm_set1_epi8(char(0x80));
    // Codes to words: pairs of codes to 4 bits (4a + b), pairs of those to a
    // byte (16c + d), and the two bytes of each word put high one first.
    const __m128i by_4 = _mm_set1_epi16(0x0104), by_16 = _mm_set1_epi32(0x00010010);
    const __m128i to_words = _mm_setr_epi8(4, 0, 12, 8, -128, -128, -128, -128, -128, -128, -128, -128, -128,
                                           -128, -128, -128);
    size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const __m128i v = load(values + 8 * i);
        // Byte v / 8 of a plane: bits 3 .. 6 of v pick it within a half
        // (the 16-bit shift brings the next byte's bits in above them, which
        // the mask drops), bit 7 the half, as a byte shuffle gives zero where
        // its index has the top bit set. Bit v % 8 of that byte, by a mask.
        const __m128i in_half = _mm_and_si128(_mm_srli_epi16(v, 3), _mm_set1_epi8(0x0F));
        const __m128i upper = _mm_and_si128(v, top);
        const __m128i from_lower = _mm_or_si128(in_half, upper), from_upper = _mm_or_si128(in_half, _mm_xor_si128(upper, top));
        const __m128i mask = _mm_shuffle_epi8(bit_of, _mm_and_si128(v, _mm_set1_epi8(7)));
        const __m128i low_bit = plane_bit(low0, low1, from_lower, from_upper, mask);
        const __m128i high_bit = plane_bit(high0, high1, from_lower, from_upper, mask);
        const __m128i codes = _mm_or_si128(_mm_and_si128(low_bit, _mm_set1_epi8(1)),
                                           _mm_and_si128(high_bit, _mm_set1_epi8(2)));
        const __m128i quads = _mm_madd_epi16(_mm_maddubs_epi16(codes, by_4), by_16);
        const uint32_t two = uint32_t(_mm_cvtsi128_si32(_mm_shuffle_epi8(quads, to_words)));
        words[i] = uint16_t(two);
        words[i + 1] = uint16_t(two >> 16);
    }
    code_words_direct(values + 8 * i, n - i, p, words + i);
}

namespace {

__attribute__((target("avx2"))) inline __m256i in_both_halves(const uint8_t* at)
{
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
}

} // namespace

// The SSSE3 version's steps on 32 values at a time: a byte shuffle works
// within each 16-byte half of the register, so the planes' halves are in
// both, and each half codes two words.
__attribute__((target("avx2"))) void code_words_avx2(const uint8_t* values, size_t n, const SpritePalette& p,
                                                     uint16_t* words)
{
    const __m256i low0 = in_both_halves(p.low.data()), low1 = in_both_halves(p.low.data() + 16);
    const __m256i high0 = in_both_halves(p.high.data()), high1 = in_both_halves(p.high.data() + 16);
    const __m256i bit_of = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8,
                                            16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    const __m256i top = _mm256_set1_epi8(char(0x80)), one = _mm256_set1_epi8(1);
    const __m256i by_4 = _mm256_set1_epi16(0x0104), by_16 = _mm256_set1_epi32(0x00010010);
    const __m256i to_words = _mm256_setr_epi8(4, 0, 12, 8, -128, -128, -128, -128, -128, -128, -128, -128, -128,
                                              -128, -128, -128, 4, 0, 12, 8, -128, -128, -128, -128, -128, -128,
                                              -128, -128, -128, -128, -128, -128);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + 8 * i));
        const __m256i in_half = _mm256_and_si256(_mm256_srli_epi16(v, 3), _mm256_set1_epi8(0x0F));
        const __m256i upper = _mm256_and_si256(v, top);
        const __m256i from_lower = _mm256_or_si256(in_half, upper);
        const __m256i from_upper = _mm256_or_si256(in_half, _mm256_xor_si256(upper, top));
        const __m256i mask = _mm256_shuffle_epi8(bit_of, _mm256_and_si256(v, _mm256_set1_epi8(7)));
        // Each plane's bit as 0 or 1: the masked byte is 0 or the mask.
        const __m256i lo = _mm256_or_si256(_mm256_shuffle_epi8(low0, from_lower), _mm256_shuffle_epi8(low1, from_upper));
        const __m256i hi = _mm256_or_si256(_mm256_shuffle_epi8(high0, from_lower), _mm256_shuffle_epi8(high1, from_upper));
        const __m256i lo_bit = _mm256_min_epu8(_mm256_and_si256(lo, mask), one);
        const __m256i hi_bit = _mm256_min_epu8(_mm256_and_si256(hi, mask), one);
        const __m256i codes = _mm256_or_si256(lo_bit, _mm256_add_epi8(hi_bit, hi_bit));
        const __m256i quads = _mm256_shuffle_epi8(_mm256_madd_epi16(_mm256_maddubs_epi16(codes, by_4), by_16), to_words);
        const uint32_t first = uint32_t(_mm_cvtsi128_si32(_mm256_castsi256_si128(quads)));
        const uint32_t second = uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(quads, 1)));
        words[i] = uint16_t(first);
        words[i + 1] = uint16_t(first >> 16);
        words[i + 2] = uint16_t(second);
        words[i + 3] = uint16_t(second >> 16);
    }
    code_words_direct(values + 8 * i, n - i, p, words + i);
}
#endif

void code_words(const uint8_t* values, size_t n, const SpritePalette& p, uint16_t* words)
{
#if VORNE_X86_KERNELS
    if (cpu_has_avx2()) {
        code_words_avx2(values, n, p, words);
        return;
    }
    if (cpu_has_ssse3()) {
        code_words_ssse3(values, n, p, words);
        return;
    }
#endif
    code_words_portable(values, n, p, words);
}

void count_values(const uint8_t* values, size_t n, ValueCounts& counts)
{
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++counts[0][values[i]];
        ++counts[1][values[i + 1]];
        ++counts[2][values[i + 2]];
        ++counts[3][values[i + 3]];
    }
    for (; i < n; ++i)
        ++counts[0][values[i]];
}

std::array<uint64_t, 256> sum_counts(const ValueCounts& counts)
{
    std::array<uint64_t, 256> sum{};
    for (const auto& c : counts)
        for (size_t v = 0; v < 256; ++v)
            sum[v] += c[v];
    return sum;
}

bool pack_clear(const uint8_t* clear, size_t n, uint8_t* bits)
{
    unsigned any = 0;
    for (size_t i = 0; i < n; i += 8, clear += 8) {
        unsigned b = 0;
        for (size_t c = 0; c < 8; ++c)
            b = b << 1 | clear[c];
        bits[i / 8] = uint8_t(b);
        any |= b;
    }
    return any != 0;
}

namespace {

// A line with transparency: every value packed, only the opaque ones
// counted (and so marked).
void pack_opaque(const uint8_t* bgr, const uint8_t* clear, uint8_t* values, size_t n, ValueCounts& counts)
{
    for (size_t x = 0; x < n; ++x, bgr += 3) {
        values[x] = pack_rgb332(bgr[2], bgr[1], bgr[0]);
        counts[x & 3][values[x]] += clear[x] ^ 1u;
    }
}

} // namespace

PictureError read_sprites(const LineSource& src, SpritePicture& out, ValueStats* stats)
{
    out = SpritePicture{};
    out.width = src.width;
    out.height = src.height;
    const size_t w = src.width;
    const RowOrder order = row_order(src);
    ValueCounts counts{};
    bool any_clear = false;
    const PictureError e = for_each_band(src, [&](const uint8_t* bottom, ptrdiff_t stride, size_t k,
                                                  const uint8_t* clear_bottom, ptrdiff_t clear_stride) {
        room_for_band(order, out.values, 8 * w, k);
        // Line r of the band (0 = its bottom line) is line 7 - r of its symbol row.
        const size_t at = row_of_band(order, k) * 8 * w;
        uint8_t* row = out.values.data() + at;
        if (clear_bottom) {
            room_for_band(order, out.clear, w, k);
            for (size_t r = 0; r < 8; ++r) {
                const uint8_t* cl = clear_bottom + ptrdiff_t(r) * clear_stride;
                pack_opaque(bottom + ptrdiff_t(r) * stride, cl, row + (7 - r) * w, w, counts);
                any_clear = pack_clear(cl, w, out.clear.data() + at / 8 + (7 - r) * w / 8) || any_clear;
            }
        } else {
            for (size_t r = 0; r < 8; ++r)
                pack_line(bottom + ptrdiff_t(r) * stride, row + (7 - r) * w, w, counts);
        }
        if (stats)
            for (size_t r = 0; r < 8; ++r) {
                const uint8_t* bgr = bottom + ptrdiff_t(r) * stride;
                const uint8_t* v = row + (7 - r) * w;
                const uint8_t* cl = clear_bottom ? clear_bottom + ptrdiff_t(r) * clear_stride : nullptr;
                for (size_t x = 0; x < w; ++x, bgr += 3) {
                    if (cl && cl[x])
                        continue;
                    ++stats->count[v[x]];
                    std::array<uint64_t, 3>& sum = stats->sum[v[x]];
                    sum[0] += bgr[2];
                    sum[1] += bgr[1];
                    sum[2] += bgr[0];
                }
            }
    });
    if (e != PictureError::ok)
        return e;
    if (!order.whole && !order.top_down) {
        // Symbol rows arrived bottom row first: turn them round, 8 lines at a time.
        reverse_blocks(out.values.data(), 8 * w, order.rows);
        if (has_mask(out))
            reverse_blocks(out.clear.data(), w, order.rows);
    }
    // A plane with nothing transparent in it is no mask: the picture
    // converts as one without alpha.
    if (!any_clear)
        out.clear = BigArray<uint8_t>{};
    out.count = sum_counts(counts);
    std::array<bool, 256> seen{};
    for (size_t v = 0; v < 256; ++v)
        seen[v] = out.count[v] != 0;
    out.palette = extreme_palette(palette_of(seen));
    return PictureError::ok;
}

PictureError load_sprites(const char* path, SpritePicture& out, const ReadOptions& opt)
{
    return read_through_chain(path, [&](const LineSource& src) { return read_sprites(src, out); }, opt);
}
