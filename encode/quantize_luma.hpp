// The luminance quantizer of encscreen: four colours for one symbol.
//
// Each pixel gets a brightness Y = R + 2G + B/2 (0 .. 892). The symbol's mean M
// splits it into an upper group (Y >= M) and a lower one; their means H and L
// are two more thresholds. A pixel's code is 3 if Y >= H, else 2 if Y >= M,
// else 1 if Y >= L, else 0, and attribute byte k is the RGB332 of the average
// colour of the pixels with code k (black where no pixel has it).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "io/cpu.hpp"
#include "formats/picture.hpp"
#include "formats/screen.hpp"
#include "pipeline/walk.hpp"

// The two steps apart, for conversions that code other pixels than the
// picture's own (dithering): a symbol's choice is its four attribute bytes
// and the three thresholds low <= mean <= high that give a pixel its code,
// [Y >= high] + [Y >= mean] + [Y >= low]; coding takes any pixels against any
// choice. The pixels as quantize_luma_bgr takes them, below.
struct LumaChoice {
    std::array<uint8_t, 4> attributes;
    uint16_t low, mean, high;
};
LumaChoice choose_luma_colours(const uint8_t* bgr, ptrdiff_t stride);
std::array<uint16_t, 8> code_luma(const uint8_t* bgr, ptrdiff_t stride, const LumaChoice& c);

// Both steps at once, as the conversion runs them: the quantizer on a symbol
// where it lies in the picture, the same bytes as code_luma after
// choose_luma_colours. Eight lines of
// eight blue-green-red pixels, bottom line first; `stride` is the distance in
// bytes from one line to the line above it (negative where the lines above
// lie earlier in memory, as in a top-down file). Runs the AVX2 or the SSSE3
// version where the processor has it, the portable one elsewhere; all give
// the same bytes.
SymbolRaster quantize_luma_bgr(const uint8_t* bgr, ptrdiff_t stride);

// Each version, for the tests and the benchmarks. The SSSE3 and AVX2 ones
// exist only in x86 builds and may be called only where cpu_has_ssse3() and
// cpu_has_avx2() say so.
SymbolRaster quantize_luma_bgr_portable(const uint8_t* bgr, ptrdiff_t stride);
#if VORNE_X86_KERNELS
SymbolRaster quantize_luma_bgr_ssse3(const uint8_t* bgr, ptrdiff_t stride);
SymbolRaster quantize_luma_bgr_avx2(const uint8_t* bgr, ptrdiff_t stride);
#endif

// encscreen's conversion: the picture at `path` read a band at a time and
// quantized into `s` as it arrives.
PictureError encode_picture_luma(const LineSource& src, ScreenImage& s);
PictureError load_screen_luma(const char* path, ScreenImage& s, const ReadOptions& opt = {});

// floor(s / d) for s < 2^16 and 1 <= d <= 64, by a multiplication: with
// m = ceil(2^32 / d), s * m / 2^32 exceeds s / d by less than 2^-16, too
// little to reach the next multiple of 1/d.
inline constexpr std::array<uint64_t, 65> kReciprocals = [] {
    std::array<uint64_t, 65> t{};
    for (uint64_t d = 1; d <= 64; ++d)
        t[d] = ((uint64_t(1) << 32) + d - 1) / d;
    return t;
}();
inline uint32_t divide_small(uint32_t s, uint32_t d) { return uint32_t((s * kReciprocals[d]) >> 32); }
