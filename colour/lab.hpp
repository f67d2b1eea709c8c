// Colour as a person sees it: CIELAB and the CIEDE2000 difference, computed
// so that every machine gets the same bits.
//
// A picture's bytes are sRGB. CIELAB (D65 white, the 2-degree observer) puts
// colours where equal steps look about equal, and CIEDE2000 corrects what is
// left: blues, greys and saturated colours. The perceptual conversions choose
// colours by it, and their output must not depend on the processor, the
// compiler or the C library, so nothing here calls libm's transcendental
// functions (whose last bits differ between libraries): cube root, exp,
// atan2 and sin are our own, built from + - * / and sqrt, which IEEE 754
// rounds exactly everywhere. The files that compute in floating point are
// built with -ffp-contract=off, as a fused multiply-add rounds once where a
// multiplication and an addition round twice (GCC fuses them on s390x).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "colour/rgb332.hpp"

// L* 0 .. 100, a* and b* about -128 .. 127, and the chroma sqrt(a*^2 + b*^2)
// kept because every difference needs it.
struct Lab {
    double L, a, b, C;
};

Lab lab_of_srgb(uint8_t r, uint8_t g, uint8_t b);

// sRGB's transfer curve undone: each byte's linear light, 0 .. 1 (the
// same table CIELAB starts from).
const std::array<double, 256>& linear_lights();

// The CIELAB colour of each of the 256 RGB332 bytes as the screen shows it
// (screen_rgb).
const std::array<Lab, 256>& screen_labs();

// The CIEDE2000 difference (kL = kC = kH = 1). Computed without the hue
// angles where an identity allows: the hue difference from the dot product,
// the mean hue's cosines from the sum of the two unit hue vectors. The
// blue-region rotation is left out where it changes the result by less
// than 0.01 %.
double ciede2000(const Lab& x, const Lab& y);

// A floor under ciede2000(x, y) at a tenth of its cost: the lightness term
// alone, |dL' / SL|, computed as ciede2000 computes it. The chroma and hue
// terms only add to it (the blue rotation takes at most sin 60 degrees of
// what they add), and the margin taken off is far above the rounding of the
// rest. A pair whose floor is above a difference already found cannot be
// nearer, and needs no difference of its own.
double ciede2000_floor(const Lab& x, const Lab& y);

// CIEDE2000 between every two screen colours, for conversions that compare
// screen colours with each other a great many times (dithering's corners):
// 256 x 256 doubles, 512 KiB, made once for a run on `threads` threads and
// only read after. An empty table is none: screen_difference computes.
struct ScreenDifferences {
    std::vector<double> d; // [256 x + y]
};
ScreenDifferences screen_differences(unsigned threads);

// ciede2000(screen_labs()[x], screen_labs()[y]), from the table where there
// is one: the same bits either way.
inline double screen_difference(const ScreenDifferences* t, uint8_t x, uint8_t y)
{
    return t && !t->d.empty() ? t->d[256 * size_t(x) + y] : ciede2000(screen_labs()[x], screen_labs()[y]);
}

// On x86-64 Linux a batch loop marked so is built three times, for the
// processors of 2003 on (two doubles a vector), for those with AVX2 (four)
// and for those with AVX-512 (eight), and the loader picks one for the
// processor at hand. None fuses a multiply and an add, even where the
// processor has FMA: the files are built with -ffp-contract=off. Elsewhere
// (Windows, s390x, the page) the baseline build alone, and so in the builds
// with ThreadSanitizer or AddressSanitizer: the loader runs the picking
// function before the sanitizer has started, and the program dies there.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__ELF__) && \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define VORNE_LANES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define VORNE_LANES
#endif

// Colours as four arrays, one for each component, so that a loop over them
// computes several differences at once (two or four doubles a vector
// register): n colours, colour i being {L[i], a[i], b[i], C[i]}.
struct LabLanes {
    const double* L;
    const double* a;
    const double* b;
    const double* C;
};

// The batched differences below give, colour for colour, ciede2000's and
// ciede2000_floor's bits: the same operations in the same order, a branch
// being a choice between results computed for every colour (the blue
// rotation too), which leaves each one's rounding as it was. out must not
// overlap the colours.
//
// out[i] = ciede2000(px[i], c) for the n colours of px.
void ciede2000_column(LabLanes px, size_t n, const Lab& c, double* out);
// out[i] = ciede2000(c, py[i]): the one colour first.
void ciede2000_row(const Lab& c, LabLanes py, size_t n, double* out);
// out[i] = ciede2000(x[i], y[i]).
void ciede2000_pairs(LabLanes x, LabLanes y, size_t n, double* out);
// out[i] = ciede2000_floor(px[i], c).
void ciede2000_floor_column(LabLanes px, size_t n, const Lab& c, double* out);

// The pinned functions, exposed for the tests: accurate to a few units in
// the last place over the ranges the conversions use, and identical
// everywhere.
double pinned_cbrt(double x);       // x >= 0
double pinned_exp_neg(double x);    // exp(-x) for x >= 0
double pinned_atan2_deg(double y, double x); // 0 <= result < 360
double pinned_sin(double x);        // |x| <= pi / 2
