// Choosing the extreme palette, packing lines to RGB332 and coding them into
// raster words, and reading a picture of sprites a band at a time.
#include "encsprite/palette.hpp"

#include <array>

#include "common/walk.hpp"

#if VORNE_X86_KERNELS
#include <tmmintrin.h>
#endif

ExtremePalette palette_of(const std::array<bool, 256>& seen)
{
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

void pack_line_portable(const uint8_t* bgr, uint8_t* values, size_t n, std::array<bool, 256>& seen)
{
    for (size_t x = 0; x < n; ++x, bgr += 3) {
        values[x] = pack_rgb332(bgr[2], bgr[1], bgr[0]);
        seen[values[x]] = true;
    }
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

// The palette needs only the two smallest and the two largest values that
// occur, so each of the 16 lanes keeps those instead of marking every value:
// lo the smallest, lo2 the smallest above it (lo while there is none), and
// hi, hi2 the same from the top. The values they keep at the end are marked;
// they include the picture's two smallest and two largest, and nothing that
// does not occur.
__attribute__((target("ssse3"))) inline void keep_extremes(__m128i v, __m128i& lo, __m128i& lo2, __m128i& hi,
                                                          __m128i& hi2)
{
    // From below: the larger of lo and v is a candidate for lo2 unless it is
    // lo itself (v == lo); an lo2 that stands for "none" (== lo) is no
    // candidate either. Where neither is, lo2 stays "none": lo.
    const __m128i v_is_lo = _mm_cmpeq_epi8(v, lo), none = _mm_cmpeq_epi8(lo2, lo);
    const __m128i lo_next = _mm_min_epu8(_mm_or_si128(_mm_max_epu8(lo, v), v_is_lo), _mm_or_si128(lo2, none));
    const __m128i stays_none = _mm_and_si128(v_is_lo, none);
    lo = _mm_min_epu8(lo, v);
    lo2 = _mm_or_si128(_mm_andnot_si128(stays_none, lo_next), _mm_and_si128(stays_none, lo));
    // The same from above, with 0 for "no candidate".
    const __m128i v_is_hi = _mm_cmpeq_epi8(v, hi), none_hi = _mm_cmpeq_epi8(hi2, hi);
    const __m128i hi_next = _mm_max_epu8(_mm_andnot_si128(v_is_hi, _mm_min_epu8(hi, v)),
                                         _mm_andnot_si128(none_hi, hi2));
    const __m128i stays_none_hi = _mm_and_si128(v_is_hi, none_hi);
    hi = _mm_max_epu8(hi, v);
    hi2 = _mm_or_si128(_mm_andnot_si128(stays_none_hi, hi_next), _mm_and_si128(stays_none_hi, hi));
}

__attribute__((target("ssse3"))) void pack_line_ssse3(const uint8_t* bgr, uint8_t* values, size_t n,
                                                      std::array<bool, 256>& seen)
{
    size_t x = 0;
    __m128i lo{}, lo2{}, hi{}, hi2{};
    for (; x + 16 <= n; x += 16) {
        const __m128i part[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 3 * x)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 3 * x + 16)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 3 * x + 32))};
        // The shifts are of 16-bit lanes: the bits that come down from the
        // neighbouring byte fall outside the masks.
        const __m128i r = _mm_and_si128(gather(part, 2), _mm_set1_epi8(char(0xE0)));
        const __m128i g = _mm_and_si128(_mm_srli_epi16(gather(part, 1), 3), _mm_set1_epi8(0x1C));
        const __m128i b = _mm_and_si128(_mm_srli_epi16(gather(part, 0), 6), _mm_set1_epi8(0x03));
        const __m128i v = _mm_or_si128(r, _mm_or_si128(g, b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(values + x), v);
        if (x == 0)
            lo = lo2 = hi = hi2 = v;
        else
            keep_extremes(v, lo, lo2, hi, hi2);
    }
    if (x > 0) {
        alignas(16) uint8_t kept[4][16];
        _mm_store_si128(reinterpret_cast<__m128i*>(kept[0]), lo);
        _mm_store_si128(reinterpret_cast<__m128i*>(kept[1]), lo2);
        _mm_store_si128(reinterpret_cast<__m128i*>(kept[2]), hi);
        _mm_store_si128(reinterpret_cast<__m128i*>(kept[3]), hi2);
        for (const auto& k : kept)
            for (uint8_t v : k)
                seen[v] = true;
    }
    pack_line_portable(bgr + 3 * x, values + x, n - x, seen);
}
#endif

void pack_line(const uint8_t* bgr, uint8_t* values, size_t n, std::array<bool, 256>& seen)
{
#if VORNE_X86_KERNELS
    if (cpu_has_ssse3()) {
        pack_line_ssse3(bgr, values, n, seen);
        return;
    }
#endif
    pack_line_portable(bgr, values, n, seen);
}

void code_words_portable(const uint8_t* values, size_t n, const ExtremePalette& p, uint16_t* words)
{
    for (size_t i = 0; i < n; ++i, values += 8) {
        unsigned word = 0;
        for (size_t c = 0; c < 8; ++c)
            word = (word << 2) | code_for_value(p, values[c]);
        words[i] = uint16_t(word);
    }
}

#if VORNE_X86_KERNELS
__attribute__((target("ssse3"))) void code_words_ssse3(const uint8_t* values, size_t n, const ExtremePalette& p,
                                                       uint16_t* words)
{
    const __m128i mn = _mm_set1_epi8(char(p.mn)), lo2 = _mm_set1_epi8(char(p.lo2)),
                  hi2 = _mm_set1_epi8(char(p.hi2));
    // Codes to words: pairs of codes to 4 bits (4a + b), pairs of those to a
    // byte (16c + d), and the two bytes of each word put high one first.
    const __m128i by_4 = _mm_set1_epi16(0x0104), by_16 = _mm_set1_epi32(0x00010010);
    const __m128i to_words = _mm_setr_epi8(4, 0, 12, 8, -128, -128, -128, -128, -128, -128, -128, -128, -128,
                                           -128, -128, -128);
    size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + 8 * i));
        // The tests in code_for_value's order: mn, then lo2, then hi2.
        const __m128i is3 = _mm_cmpeq_epi8(v, mn);
        const __m128i is2 = _mm_andnot_si128(is3, _mm_cmpeq_epi8(v, lo2));
        const __m128i is1 = _mm_andnot_si128(_mm_or_si128(is3, is2), _mm_cmpeq_epi8(v, hi2));
        const __m128i codes = _mm_or_si128(_mm_and_si128(is3, _mm_set1_epi8(3)),
                                           _mm_or_si128(_mm_and_si128(is2, _mm_set1_epi8(2)),
                                                        _mm_and_si128(is1, _mm_set1_epi8(1))));
        const __m128i quads = _mm_madd_epi16(_mm_maddubs_epi16(codes, by_4), by_16);
        const uint32_t two = uint32_t(_mm_cvtsi128_si32(_mm_shuffle_epi8(quads, to_words)));
        words[i] = uint16_t(two);
        words[i + 1] = uint16_t(two >> 16);
    }
    code_words_portable(values + 8 * i, n - i, p, words + i);
}
#endif

void code_words(const uint8_t* values, size_t n, const ExtremePalette& p, uint16_t* words)
{
#if VORNE_X86_KERNELS
    if (cpu_has_ssse3()) {
        code_words_ssse3(values, n, p, words);
        return;
    }
#endif
    code_words_portable(values, n, p, words);
}

void code_words_table(const uint8_t* values, size_t n, const std::array<PixelCode, 256>& code_of, uint16_t* words)
{
    for (size_t i = 0; i < n; ++i, values += 8) {
        unsigned word = 0;
        for (size_t c = 0; c < 8; ++c)
            word = (word << 2) | code_of[values[c]];
        words[i] = uint16_t(word);
    }
}

PictureError read_sprites(const LineSource& src, SpritePicture& out, ValueStats* stats)
{
    out = SpritePicture{};
    out.width = src.width;
    out.height = src.height;
    const size_t w = src.width;
    const RowOrder order = row_order(src);
    std::array<bool, 256> seen{};
    const PictureError e = for_each_band(src, [&](const uint8_t* bottom, ptrdiff_t stride, size_t k) {
        room_for_band(order, out.values, 8 * w, k);
        // Line r of the band (0 = its bottom line) is line 7 - r of its symbol row.
        uint8_t* row = out.values.data() + row_of_band(order, k) * 8 * w;
        for (size_t r = 0; r < 8; ++r)
            pack_line(bottom + ptrdiff_t(r) * stride, row + (7 - r) * w, w, seen);
        if (stats)
            for (size_t r = 0; r < 8; ++r) {
                const uint8_t* bgr = bottom + ptrdiff_t(r) * stride;
                const uint8_t* v = row + (7 - r) * w;
                for (size_t x = 0; x < w; ++x, bgr += 3) {
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
    }
    out.palette = palette_of(seen);
    return PictureError::ok;
}

PictureError load_sprites(const char* path, SpritePicture& out, const ReadOptions& opt)
{
    return read_through_chain(path, [&](const LineSource& src) { return read_sprites(src, out); }, opt);
}
