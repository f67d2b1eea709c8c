// The luminance quantizer of one symbol: the portable version, the SSSE3 and
// AVX2 ones, and the choice between them.
#include "encode/quantize_luma.hpp"

#include <cstring>

#if VORNE_X86_KERNELS
#include <immintrin.h>
#endif

namespace {

// The four attribute bytes from what both versions count: how many pixels
// are at or above the upper threshold (n3), the mean (n2) and the lower one
// (n1), and the red, green and blue sums over all pixels and over those at
// or above each threshold (sums: r0 r1 r2 r3, g0 .. g3, b0 .. b3, where 0 is
// every pixel). The pixels of code k are those at or above threshold k less
// those at or above threshold k + 1.
std::array<uint8_t, 4> attributes_of(uint32_t n3, uint32_t n2, uint32_t n1, const uint16_t* sums)
{
    const uint32_t count[4] = {64u - n1, n1 - n2, n2 - n3, n3};
    std::array<uint8_t, 4> out{};
    #pragma GCC unroll 16
    for (size_t k = 0; k < 4; ++k) {
        const uint32_t c = count[k];
        if (c == 0)
            continue; // black
        uint8_t mean[3];
        #pragma GCC unroll 16
        for (size_t ch = 0; ch < 3; ++ch) {
            const uint16_t* s = sums + 4 * ch;
            mean[ch] = uint8_t(divide_small(k < 3 ? uint32_t(s[k] - s[k + 1]) : s[3], c));
        }
        out[k] = pack_rgb332(mean[0], mean[1], mean[2]);
    }
    return out;
}

} // namespace

namespace {

// A symbol split once into planes, entry j = 8 * line + column, and each
// pixel's brightness. Every sum below fits 16 bits (at most 64 x 892 =
// 57088), so the loops over the 64 entries vectorise in 16-bit lanes; masks
// stand in for branches.
struct LumaPlanes {
    alignas(16) uint8_t r[64], g[64], b[64];
    alignas(16) uint16_t y[64];
};

void split_planes(const uint8_t* bgr, ptrdiff_t stride, LumaPlanes& p)
{
    for (size_t line = 0; line < 8; ++line) {
        const uint8_t* q = bgr + ptrdiff_t(line) * stride;
        for (size_t c = 0; c < 8; ++c, q += 3) {
            const size_t j = 8 * line + c;
            p.b[j] = q[0];
            p.g[j] = q[1];
            p.r[j] = q[2];
        }
    }
    for (size_t j = 0; j < 64; ++j)
        p.y[j] = uint16_t(p.r[j] + 2 * p.g[j] + (p.b[j] >> 1));
}

// The choice, and each pixel's code on the way.
LumaChoice choose(const LumaPlanes& p, uint16_t* code)
{
    const uint16_t* y = p.y;
    uint16_t total = 0;
    for (size_t j = 0; j < 64; ++j)
        total = uint16_t(total + y[j]);
    const uint16_t mean = uint16_t(total >> 6);

    // The brightest pixel is at least the mean, so the upper group is never empty.
    uint16_t upper_sum = 0, upper_count = 0;
    for (size_t j = 0; j < 64; ++j) {
        const uint16_t in = y[j] >= mean ? 0xFFFF : 0;
        upper_sum = uint16_t(upper_sum + (y[j] & in));
        upper_count = uint16_t(upper_count - in);
    }
    const uint32_t lower_count = 64u - upper_count;
    const uint16_t high = uint16_t(divide_small(upper_sum, upper_count));
    const uint16_t low = uint16_t(lower_count ? divide_small(uint32_t(total - upper_sum), lower_count) : 0);

    // L <= M <= H, so the code is [Y >= H] + [Y >= M] + [Y >= L] (a pixel
    // exactly on a threshold takes the higher code), and the pixels of code k
    // or more are those at or above threshold k: the sums per code are
    // differences of sums over thresholds.
    uint16_t n3 = 0, n1 = 0;
    uint16_t r3 = 0, r2 = 0, r1 = 0, r0 = 0, g3 = 0, g2 = 0, g1 = 0, g0 = 0, b3 = 0, b2 = 0, b1 = 0, b0 = 0;
    const uint8_t *r = p.r, *g = p.g, *b = p.b;
    for (size_t j = 0; j < 64; ++j) {
        const uint16_t m3 = y[j] >= high ? 0xFFFF : 0, m2 = y[j] >= mean ? 0xFFFF : 0, m1 = y[j] >= low ? 0xFFFF : 0;
        n3 = uint16_t(n3 - m3);
        n1 = uint16_t(n1 - m1);
        r3 = uint16_t(r3 + (r[j] & m3));
        r2 = uint16_t(r2 + (r[j] & m2));
        r1 = uint16_t(r1 + (r[j] & m1));
        r0 = uint16_t(r0 + r[j]);
        g3 = uint16_t(g3 + (g[j] & m3));
        g2 = uint16_t(g2 + (g[j] & m2));
        g1 = uint16_t(g1 + (g[j] & m1));
        g0 = uint16_t(g0 + g[j]);
        b3 = uint16_t(b3 + (b[j] & m3));
        b2 = uint16_t(b2 + (b[j] & m2));
        b1 = uint16_t(b1 + (b[j] & m1));
        b0 = uint16_t(b0 + b[j]);
        code[j] = uint16_t((m3 & 1) + (m2 & 1) + (m1 & 1));
    }
    const uint16_t sums[12] = {r0, r1, r2, r3, g0, g1, g2, g3, b0, b1, b2, b3};
    return {attributes_of(n3, upper_count, n1, sums), low, mean, high};
}

std::array<uint16_t, 8> words_of(const uint16_t* code)
{
    std::array<uint16_t, 8> words;
    for (size_t line = 0; line < 8; ++line) {
        uint16_t word = 0;
        for (unsigned c = 0; c < 8; ++c)
            word = uint16_t(word | (code[8 * line + c] << (14 - 2 * c)));
        words[line] = word;
    }
    return words;
}

} // namespace

SymbolRaster quantize_luma_bgr_portable(const uint8_t* bgr, ptrdiff_t stride)
{
    LumaPlanes p;
    split_planes(bgr, stride, p);
    alignas(16) uint16_t code[64];
    const LumaChoice c = choose(p, code);
    return {words_of(code), c.attributes};
}

LumaChoice choose_luma_colours(const uint8_t* bgr, ptrdiff_t stride)
{
    LumaPlanes p;
    split_planes(bgr, stride, p);
    alignas(16) uint16_t code[64];
    return choose(p, code);
}

std::array<uint16_t, 8> code_luma(const uint8_t* bgr, ptrdiff_t stride, const LumaChoice& c)
{
    LumaPlanes p;
    split_planes(bgr, stride, p);
    alignas(16) uint16_t code[64];
    for (size_t j = 0; j < 64; ++j)
        code[j] = uint16_t((p.y[j] >= c.high) + (p.y[j] >= c.mean) + (p.y[j] >= c.low));
    return words_of(code);
}

#if VORNE_X86_KERNELS
namespace {

// Byte shuffles that take one symbol line apart, read as its first 16 bytes
// (lo) and its last 8 (hi), never past its 24: the last symbol of the last
// line may end where the buffer does. Each puts one channel of the eight
// pixels into eight 16-bit lanes; -1 gives a zero byte.
alignas(16) constexpr int8_t kSplitLine[6][16] = {
    {0, -1, 3, -1, 6, -1, 9, -1, 12, -1, 15, -1, -1, -1, -1, -1},   // blue from lo
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, -1, 5, -1}, // blue from hi
    {1, -1, 4, -1, 7, -1, 10, -1, 13, -1, -1, -1, -1, -1, -1, -1},  // green from lo
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, -1, 3, -1, 6, -1},  // green from hi
    {2, -1, 5, -1, 8, -1, 11, -1, 14, -1, -1, -1, -1, -1, -1, -1},  // red from lo
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, -1, 4, -1, 7, -1},  // red from hi
};

// The code of a column moved to its two bits of the raster word; a
// multiply-add of adjacent lanes then adds pairs of columns.
constexpr int16_t kColumnWeights[8] = {1 << 14, 1 << 12, 1 << 10, 1 << 8, 1 << 6, 1 << 4, 1 << 2, 1};

// Sum of the eight 16-bit lanes, for totals below 2^16.
__attribute__((target("ssse3"))) inline uint32_t lane_sum(__m128i v)
{
    v = _mm_add_epi16(v, _mm_srli_si128(v, 8));
    v = _mm_add_epi16(v, _mm_srli_si128(v, 4));
    v = _mm_add_epi16(v, _mm_srli_si128(v, 2));
    return uint16_t(_mm_cvtsi128_si32(v));
}

// Floor of the four 16-bit sums in the low half of `sums` over the four
// counts, 0 where a count is 0. In single precision: a sum is below 2^14 and
// a count at most 64, so the correctly rounded quotient is within 2^-10 of
// the true one, while a quotient that is not whole lies at least 1/64 from
// the next whole number; the truncation is the exact floor.
__attribute__((target("ssse3"))) inline __m128i means(__m128i sums, __m128 count, __m128 has)
{
    const __m128 s = _mm_cvtepi32_ps(_mm_unpacklo_epi16(sums, _mm_setzero_si128()));
    return _mm_cvttps_epi32(_mm_and_ps(_mm_div_ps(s, count), has));
}

// attributes_of on the sums as lane_sums leaves them: rg = r0 r1 r2 r3 g0 g1
// g2 g3 and rest = b0 b1 b2 b3, then the pixels below the upper and below
// the lower threshold; n2 is the count at or above the mean.
__attribute__((target("ssse3"))) inline std::array<uint8_t, 4> attributes_of(__m128i rg, __m128i rest, uint32_t n2)
{
    // Per code k: the sum over threshold k less the one over threshold k + 1.
    const __m128i next = _mm_setr_epi16(-1, -1, -1, 0, -1, -1, -1, 0);
    rg = _mm_sub_epi16(rg, _mm_and_si128(_mm_srli_si128(rg, 2), next));
    const __m128i b = _mm_sub_epi16(rest, _mm_and_si128(_mm_srli_si128(rest, 2), next));
    const uint32_t n3 = 64u - uint32_t(_mm_extract_epi16(rest, 4)), n1 = 64u - uint32_t(_mm_extract_epi16(rest, 5));
    const __m128 count = _mm_cvtepi32_ps(_mm_setr_epi32(int(64 - n1), int(n1 - n2), int(n2 - n3), int(n3)));
    const __m128 has = _mm_cmpneq_ps(count, _mm_setzero_ps());
    const __m128i red = means(rg, count, has), green = means(_mm_srli_si128(rg, 8), count, has),
                  blue = means(b, count, has);
    // pack_rgb332 in each lane, then the four lanes to four bytes.
    __m128i packed = _mm_or_si128(_mm_and_si128(red, _mm_set1_epi32(0xE0)),
                                  _mm_or_si128(_mm_and_si128(_mm_srli_epi32(green, 3), _mm_set1_epi32(0x1C)),
                                               _mm_srli_epi32(blue, 6)));
    packed = _mm_packus_epi16(_mm_packs_epi32(packed, packed), packed);
    std::array<uint8_t, 4> out;
    const uint32_t bytes = uint32_t(_mm_cvtsi128_si32(packed));
    std::memcpy(out.data(), &bytes, 4);
    return out;
}

// The lane sums of the eight vectors at v as the eight lanes of one.
__attribute__((target("ssse3"))) inline __m128i lane_sums(const __m128i* v)
{
    const __m128i a = _mm_hadd_epi16(_mm_hadd_epi16(v[0], v[1]), _mm_hadd_epi16(v[2], v[3]));
    const __m128i b = _mm_hadd_epi16(_mm_hadd_epi16(v[4], v[5]), _mm_hadd_epi16(v[6], v[7]));
    return _mm_hadd_epi16(a, b);
}

} // namespace

// The same steps as the portable version with one symbol line in a register:
// eight 16-bit lanes, one per column. The thresholds' masks are signed
// comparisons, which are exact because every luma is at most 892.
__attribute__((target("ssse3"))) SymbolRaster quantize_luma_bgr_ssse3(const uint8_t* bgr, ptrdiff_t stride)
{
    __m128i split[6];
    #pragma GCC unroll 16
    for (size_t i = 0; i < 6; ++i)
        split[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(kSplitLine[i]));
    __m128i r[8], g[8], b[8], y[8];
    // acc: sums of red, green, blue over every pixel and over those at or
    // above each threshold (four each, as attributes_of takes them), then
    // the pixels below the upper and below the lower threshold counted.
    __m128i acc[16] = {};
    __m128i total = _mm_setzero_si128();
    #pragma GCC unroll 16
    for (size_t line = 0; line < 8; ++line) {
        const uint8_t* p = bgr + ptrdiff_t(line) * stride;
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16));
        b[line] = _mm_or_si128(_mm_shuffle_epi8(lo, split[0]), _mm_shuffle_epi8(hi, split[1]));
        g[line] = _mm_or_si128(_mm_shuffle_epi8(lo, split[2]), _mm_shuffle_epi8(hi, split[3]));
        r[line] = _mm_or_si128(_mm_shuffle_epi8(lo, split[4]), _mm_shuffle_epi8(hi, split[5]));
        y[line] = _mm_add_epi16(_mm_add_epi16(r[line], _mm_add_epi16(g[line], g[line])), _mm_srli_epi16(b[line], 1));
        total = _mm_add_epi16(total, y[line]);
        acc[0] = _mm_add_epi16(acc[0], r[line]);
        acc[4] = _mm_add_epi16(acc[4], g[line]);
        acc[8] = _mm_add_epi16(acc[8], b[line]);
    }
    const uint32_t sum = lane_sum(total);
    const __m128i mean = _mm_set1_epi16(int16_t(sum >> 6));

    // below: -1 in each lane below the mean, summed into minus the count.
    __m128i upper_sum = _mm_setzero_si128(), lower_count = _mm_setzero_si128();
    #pragma GCC unroll 16
    for (size_t line = 0; line < 8; ++line) {
        const __m128i below = _mm_cmpgt_epi16(mean, y[line]);
        upper_sum = _mm_add_epi16(upper_sum, _mm_andnot_si128(below, y[line]));
        lower_count = _mm_sub_epi16(lower_count, below);
    }
    const uint32_t upper = lane_sum(upper_sum), lower_n = lane_sum(lower_count), upper_n = 64 - lower_n;
    const __m128i high = _mm_set1_epi16(int16_t(divide_small(upper, upper_n)));
    const __m128i low = _mm_set1_epi16(int16_t(lower_n ? divide_small(sum - upper, lower_n) : 0));

    // Sums over the pixels at or above each threshold, and the pixels below
    // the upper and the lower one counted; the code is 3 less the number of
    // thresholds a pixel is below.
    const __m128i weights = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kColumnWeights));
    __m128i words[8];
    #pragma GCC unroll 16
    for (size_t line = 0; line < 8; ++line) {
        const __m128i below3 = _mm_cmpgt_epi16(high, y[line]), below2 = _mm_cmpgt_epi16(mean, y[line]),
                      below1 = _mm_cmpgt_epi16(low, y[line]);
        const __m128i ch[3] = {r[line], g[line], b[line]};
        #pragma GCC unroll 16
        for (size_t c = 0; c < 3; ++c) {
            acc[4 * c + 1] = _mm_add_epi16(acc[4 * c + 1], _mm_andnot_si128(below1, ch[c]));
            acc[4 * c + 2] = _mm_add_epi16(acc[4 * c + 2], _mm_andnot_si128(below2, ch[c]));
            acc[4 * c + 3] = _mm_add_epi16(acc[4 * c + 3], _mm_andnot_si128(below3, ch[c]));
        }
        acc[12] = _mm_sub_epi16(acc[12], below3);
        acc[13] = _mm_sub_epi16(acc[13], below1);
        const __m128i code =
            _mm_add_epi16(_mm_set1_epi16(3), _mm_add_epi16(below3, _mm_add_epi16(below2, below1)));
        words[line] = _mm_madd_epi16(code, weights);
    }

    // The line's four pair sums added into its word: [line 0 .. 3] and
    // [line 4 .. 7] as 32-bit lanes below 2^16, packed to 16 bits through
    // their sign-extended halves, which pack exactly.
    const __m128i w03 = _mm_hadd_epi32(_mm_hadd_epi32(words[0], words[1]), _mm_hadd_epi32(words[2], words[3]));
    const __m128i w47 = _mm_hadd_epi32(_mm_hadd_epi32(words[4], words[5]), _mm_hadd_epi32(words[6], words[7]));
    SymbolRaster out;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out.words.data()),
                     _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(w03, 16), 16),
                                     _mm_srai_epi32(_mm_slli_epi32(w47, 16), 16)));

    out.attributes = attributes_of(lane_sums(acc), lane_sums(acc + 8), upper_n);
    return out;
}

namespace {

// The two halves of a register of two lines added: one line's lanes.
__attribute__((target("avx2"))) inline __m128i fold(__m256i v)
{
    return _mm_add_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

} // namespace

// The SSSE3 version's steps on two symbol lines per register: line 2k in the
// low half of register k, line 2k + 1 in the high half.
__attribute__((target("avx2"))) SymbolRaster quantize_luma_bgr_avx2(const uint8_t* bgr, ptrdiff_t stride)
{
    __m256i split[6];
    #pragma GCC unroll 16
    for (size_t i = 0; i < 6; ++i)
        split[i] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kSplitLine[i])));
    __m256i r[4], g[4], b[4], y[4];
    __m256i acc[14] = {};
    __m256i total = _mm256_setzero_si256();
    #pragma GCC unroll 16
    for (size_t k = 0; k < 4; ++k) {
        const uint8_t* p = bgr + ptrdiff_t(2 * k) * stride;
        const uint8_t* q = p + stride;
        const __m256i lo = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), 1);
        const __m256i hi = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16))),
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q + 16)), 1);
        b[k] = _mm256_or_si256(_mm256_shuffle_epi8(lo, split[0]), _mm256_shuffle_epi8(hi, split[1]));
        g[k] = _mm256_or_si256(_mm256_shuffle_epi8(lo, split[2]), _mm256_shuffle_epi8(hi, split[3]));
        r[k] = _mm256_or_si256(_mm256_shuffle_epi8(lo, split[4]), _mm256_shuffle_epi8(hi, split[5]));
        y[k] = _mm256_add_epi16(_mm256_add_epi16(r[k], _mm256_add_epi16(g[k], g[k])), _mm256_srli_epi16(b[k], 1));
        total = _mm256_add_epi16(total, y[k]);
        acc[0] = _mm256_add_epi16(acc[0], r[k]);
        acc[4] = _mm256_add_epi16(acc[4], g[k]);
        acc[8] = _mm256_add_epi16(acc[8], b[k]);
    }
    const uint32_t sum = lane_sum(fold(total));
    const __m256i mean = _mm256_set1_epi16(int16_t(sum >> 6));

    __m256i upper_sum = _mm256_setzero_si256(), lower_count = _mm256_setzero_si256();
    #pragma GCC unroll 16
    for (size_t k = 0; k < 4; ++k) {
        const __m256i below = _mm256_cmpgt_epi16(mean, y[k]);
        upper_sum = _mm256_add_epi16(upper_sum, _mm256_andnot_si256(below, y[k]));
        lower_count = _mm256_sub_epi16(lower_count, below);
    }
    const uint32_t upper = lane_sum(fold(upper_sum)), lower_n = lane_sum(fold(lower_count)), upper_n = 64 - lower_n;
    const __m256i high = _mm256_set1_epi16(int16_t(divide_small(upper, upper_n)));
    const __m256i low = _mm256_set1_epi16(int16_t(lower_n ? divide_small(sum - upper, lower_n) : 0));

    const __m256i weights =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kColumnWeights)));
    __m256i words[4];
    #pragma GCC unroll 16
    for (size_t k = 0; k < 4; ++k) {
        const __m256i below3 = _mm256_cmpgt_epi16(high, y[k]), below2 = _mm256_cmpgt_epi16(mean, y[k]),
                      below1 = _mm256_cmpgt_epi16(low, y[k]);
        const __m256i ch[3] = {r[k], g[k], b[k]};
        #pragma GCC unroll 16
        for (size_t c = 0; c < 3; ++c) {
            acc[4 * c + 1] = _mm256_add_epi16(acc[4 * c + 1], _mm256_andnot_si256(below1, ch[c]));
            acc[4 * c + 2] = _mm256_add_epi16(acc[4 * c + 2], _mm256_andnot_si256(below2, ch[c]));
            acc[4 * c + 3] = _mm256_add_epi16(acc[4 * c + 3], _mm256_andnot_si256(below3, ch[c]));
        }
        acc[12] = _mm256_sub_epi16(acc[12], below3);
        acc[13] = _mm256_sub_epi16(acc[13], below1);
        const __m256i code =
            _mm256_add_epi16(_mm256_set1_epi16(3), _mm256_add_epi16(below3, _mm256_add_epi16(below2, below1)));
        words[k] = _mm256_madd_epi16(code, weights);
    }

    // Within each half the additions give lines [0 2 4 6] (low) and
    // [1 3 5 7] (high); packed to 16 bits as in the SSSE3 version, the two
    // halves interleave into lines 0 .. 7.
    __m256i w = _mm256_hadd_epi32(_mm256_hadd_epi32(words[0], words[1]), _mm256_hadd_epi32(words[2], words[3]));
    w = _mm256_srai_epi32(_mm256_slli_epi32(w, 16), 16);
    w = _mm256_packs_epi32(w, w);
    SymbolRaster out;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out.words.data()),
                     _mm_unpacklo_epi16(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1)));

    __m128i halves[16];
    #pragma GCC unroll 16
    for (size_t i = 0; i < 14; ++i)
        halves[i] = fold(acc[i]);
    halves[14] = halves[15] = _mm_setzero_si128();
    out.attributes = attributes_of(lane_sums(halves), lane_sums(halves + 8), upper_n);
    return out;
}
#endif

SymbolRaster quantize_luma_bgr(const uint8_t* bgr, ptrdiff_t stride)
{
#if VORNE_X86_KERNELS
    if (cpu_has_avx2())
        return quantize_luma_bgr_avx2(bgr, stride);
    if (cpu_has_ssse3())
        return quantize_luma_bgr_ssse3(bgr, stride);
#endif
    return quantize_luma_bgr_portable(bgr, stride);
}
