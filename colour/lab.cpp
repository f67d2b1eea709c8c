// CIELAB and CIEDE2000 in floating point pinned to the same bits everywhere:
// see lab.hpp. Built with -ffp-contract=off.
#include "colour/lab.hpp"

#include <cstring>

#include <algorithm>
#include <bit>
#include <cmath>

#include "colour/rgb332.hpp"
#include "io/parallel.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

// 1 / n, each rounded once (a constant division is rounded as the standard
// says, at compile time as at run time), for the series below.
constexpr std::array<double, 32> kReciprocal = [] {
    std::array<double, 32> t{};
    for (size_t n = 1; n < 32; ++n)
        t[n] = 1.0 / double(n);
    return t;
}();

// x^2.4 for 0 <= x <= 1, as x^2 times the square of the fifth root, the root
// by Newton's method from 1 (it falls monotonically onto the root). Only for
// the tables below, so a fixed, generous number of steps.
double pow_2_4(double x)
{
    if (x <= 0)
        return 0;
    double y = 1;
    for (int i = 0; i < 60; ++i) {
        const double y2 = y * y;
        y = (4 * y + x / (y2 * y2)) / 5;
    }
    return x * x * y * y;
}

// sRGB's transfer curve undone: each byte's linear light, 0 .. 1.
const std::array<double, 256> kLinear = [] {
    std::array<double, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        const double c = v / 255.0;
        t[v] = c <= 0.04045 ? c / 12.92 : pow_2_4((c + 0.055) / 1.055);
    }
    return t;
}();

// CIELAB's f(t): the cube root above (6/29)^3, a line below it.
double lab_f(double t) { return t > 0.008856 ? pinned_cbrt(t) : 7.787 * t + 16.0 / 116.0; }

Lab lab_of_linear(double r, double g, double b)
{
    // sRGB primaries to XYZ, each divided by the D65 white's own value.
    const double x = (0.412453 * r + 0.357580 * g + 0.180423 * b) / 0.95047;
    const double y = 0.212671 * r + 0.715160 * g + 0.072169 * b;
    const double z = (0.019334 * r + 0.119193 * g + 0.950227 * b) / 1.08883;
    const double fx = lab_f(x), fy = lab_f(y), fz = lab_f(z);
    Lab out{116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz), 0};
    out.C = std::sqrt(out.a * out.a + out.b * out.b);
    return out;
}

const std::array<Lab, 256> kScreenLabs = [] {
    std::array<Lab, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        const std::array<uint8_t, 3> c = screen_rgb(uint8_t(v));
        t[v] = lab_of_linear(kLinear[c[0]], kLinear[c[1]], kLinear[c[2]]);
    }
    return t;
}();

constexpr double kPow25_7 = 6103515625.0; // 25^7

double pow7(double x)
{
    const double x2 = x * x;
    return x2 * x2 * x2 * x;
}

// cos and sin of 30, 6 and 63 degrees, for the hue weighting T.
constexpr double kCos30 = 0.86602540378443865, kSin30 = 0.5;
constexpr double kCos6 = 0.99452189536827333, kSin6 = 0.10452846326765347;
constexpr double kCos63 = 0.45399049973954679, kSin63 = 0.89100652418836787;
constexpr double kCos275 = 0.087155742747658174, kSin275 = -0.99619469809174553;

inline double de2000(const Lab& x, const Lab& y)
{
    // Chroma lifted on the a* axis for colours near grey.
    const double c7 = pow7(0.5 * (x.C + y.C));
    const double lift = 1.5 - 0.5 * std::sqrt(c7 / (c7 + kPow25_7));
    const double a1 = x.a * lift, a2 = y.a * lift;
    const double c1 = std::sqrt(a1 * a1 + x.b * x.b), c2 = std::sqrt(a2 * a2 + y.b * y.b);
    const double dl = y.L - x.L, dc = c2 - c1;
    // dH' = 2 sqrt(C1' C2') sin(dh' / 2) is, squared, what of the (a', b)
    // distance the chroma difference leaves: da'^2 + db^2 - dC'^2 (exactly 0
    // for equal colours); its sign is the turn's from colour 1 to colour 2.
    const double da = a2 - a1, db = y.b - x.b;
    double dh = std::sqrt(std::max(0.0, da * da + db * db - dc * dc));
    if (a1 * y.b - x.b * a2 < 0)
        dh = -dh;
    // The mean hue is the direction of the sum of the two unit hue vectors,
    // here each scaled by the other's chroma (the same direction, without
    // dividing); a grey has no hue and leaves the other's. Opposite hues,
    // whose sum vanishes, take the first one's turned by 90 degrees.
    double ux = a1 * c2 + a2 * c1, uy = x.b * c2 + y.b * c1;
    if (c1 == 0 || c2 == 0) {
        ux = a1 + a2;
        uy = x.b + y.b;
    }
    double ch = 1, sh = 0;
    if (const double n = std::sqrt(ux * ux + uy * uy); n > 0) {
        ch = ux / n;
        sh = uy / n;
    } else if (c1 > 0) {
        ch = -x.b / c1;
        sh = a1 / c1;
    }
    const double ch2 = ch * ch - sh * sh, sh2 = 2 * sh * ch;
    const double ch3 = ch * (4 * ch * ch - 3), sh3 = sh * (3 - 4 * sh * sh);
    const double ch4 = ch2 * ch2 - sh2 * sh2, sh4 = 2 * sh2 * ch2;
    const double t = 1 - 0.17 * (ch * kCos30 + sh * kSin30) + 0.24 * ch2 + 0.32 * (ch3 * kCos6 - sh3 * kSin6) -
                     0.20 * (ch4 * kCos63 + sh4 * kSin63);

    const double lm = 0.5 * (x.L + y.L) - 50, cm = 0.5 * (c1 + c2);
    const double sl = 1 + 0.015 * lm * lm / std::sqrt(20 + lm * lm), sc = 1 + 0.045 * cm, shw = 1 + 0.015 * cm * t;
    const double tl = dl / sl, tc = dc / sc, th = dh / shw;
    double sum = tl * tl + tc * tc + th * th;
    // The rotation of blue hues: 30 exp(-((h - 275) / 25)^2) degrees, where
    // h - 275 is the mean hue's angle phi from 275 degrees. Beyond 75 degrees
    // (cos phi < 0.2588) it is under 0.004 degrees and changes the difference
    // by less than 0.01 %: left out, which saves the angle for most pairs.
    if (const double cos_phi = ch * kCos275 + sh * kSin275; cos_phi > 0.25881904510252076) {
        const double z = pinned_atan2_deg(sh * kCos275 - ch * kSin275, cos_phi) / 25;
        const double zz = z > 180.0 / 25 ? (z - 360.0 / 25) * (z - 360.0 / 25) : z * z;
        const double cm7 = pow7(cm);
        const double theta = 30 * pinned_exp_neg(zz) * (kPi / 180);
        sum -= 2 * std::sqrt(cm7 / (cm7 + kPow25_7)) * pinned_sin(2 * theta) * tc * th;
    }
    return std::sqrt(std::max(0.0, sum));
}

// A value's bits as another type of the same size (std::bit_cast, which the
// browser build's C++ library lacks).
template <class To, class From>
To same_bits(From v)
{
    static_assert(sizeof(To) == sizeof(From));
    To out;
    std::memcpy(&out, &v, sizeof out);
    return out;
}

} // namespace

double pinned_cbrt(double x)
{
    if (!(x > 0))
        return 0;
    // A first guess from the bits, about a third of the exponent (within a
    // few per cent), then four Newton steps, each squaring the relative error.
    const uint64_t bits = same_bits<uint64_t>(x);
    double y = same_bits<double>(bits / 3 + uint64_t(0x2A9F7893782DA1CE));
    for (int i = 0; i < 4; ++i)
        y -= (y * y * y - x) / (3 * y * y);
    return y;
}

double pinned_exp_neg(double x)
{
    if (x > 700)
        return 0;
    // exp(-x) = 2^-k exp(-r) with |r| <= ln(2) / 2, then Taylor's series of
    // exp(-r) to the 14th power.
    const int k = int(x * 1.4426950408889634 + 0.5);
    // ln 2 in two parts (fdlibm's): k times the first is exact.
    const double r = (x - k * 6.93147180369123816490e-01) - k * 1.90821492927058770002e-10;
    double p = 1;
    for (size_t i = 14; i >= 1; --i)
        p = 1 - r * p * kReciprocal[i];
    // 2^-k built from its bits: exact.
    return p * same_bits<double>(uint64_t(1023 - k) << 52);
}

double pinned_atan2_deg(double y, double x)
{
    const double ax = std::fabs(x), ay = std::fabs(y);
    const double hi = std::max(ax, ay), lo = std::min(ax, ay);
    if (hi == 0)
        return 0;
    // atan of lo / hi in [0, 1], shifted by pi / 4 above tan(pi / 8) so that
    // the series' argument stays below 0.415 (to the 29th power: the error
    // is below 1e-12 degrees, far below what the hue weighting can show).
    double t = lo / hi, base = 0;
    if (t > 0.41421356237309503) {
        t = (t - 1) / (t + 1);
        base = kPi / 4;
    }
    const double t2 = t * t;
    double s = 0;
    for (size_t n = 14; n-- > 0;)
        s = kReciprocal[2 * n + 1] - t2 * s;
    double a = base + t * s;
    if (ay > ax)
        a = kPi / 2 - a;
    if (x < 0)
        a = kPi - a;
    double deg = a * (180 / kPi);
    if (y < 0)
        deg = 360 - deg;
    return deg >= 360 ? 0 : deg;
}

double pinned_sin(double x)
{
    // Taylor's series to the 23rd power.
    const double x2 = x * x;
    double s = 1;
    for (size_t n = 11; n >= 1; --n)
        s = 1 - x2 * s * kReciprocal[2 * n] * kReciprocal[2 * n + 1];
    return x * s;
}

Lab lab_of_srgb(uint8_t r, uint8_t g, uint8_t b) { return lab_of_linear(kLinear[r], kLinear[g], kLinear[b]); }

const std::array<Lab, 256>& screen_labs() { return kScreenLabs; }

const std::array<double, 256>& linear_lights() { return kLinear; }

double ciede2000(const Lab& x, const Lab& y) { return de2000(x, y); }

ScreenDifferences screen_differences(unsigned threads)
{
    ScreenDifferences t;
    t.d.resize(256 * 256);
    double* d = t.d.data();
    parallel_chunks(threads_for(threads, 256, 16, 16), 256, 16, [d](size_t begin, size_t end, unsigned) {
        for (size_t x = begin; x < end; ++x)
            for (size_t y = 0; y < 256; ++y)
                d[256 * x + y] = de2000(kScreenLabs[x], kScreenLabs[y]);
    });
    return t;
}

double ciede2000_floor(const Lab& x, const Lab& y)
{
    // The same operations as de2000's dl, lm, sl and tl, so the same bits.
    const double dl = y.L - x.L;
    const double lm = 0.5 * (x.L + y.L) - 50;
    const double sl = 1 + 0.015 * lm * lm / std::sqrt(20 + lm * lm);
    return std::fabs(dl / sl) * (1 - 1e-9);
}

// --- Many differences at once ---------------------------------------------
//
// de2000 again, for one colour of a batch, without a branch: where de2000
// takes one of two ways, both are computed and the result chosen, so that a
// loop over a batch becomes vector instructions (the compiler does it at
// -O3, with -fno-math-errno for sqrt). Every operation is de2000's, in its
// order, so each colour's result has its bits; tests/perceptual_test.cpp
// holds the two to that, colour for colour. The blue rotation, which de2000
// computes for about two pairs in five, is computed for all of them here and
// kept where de2000 would have computed it: the pinned functions below do
// what pinned_atan2_deg, pinned_exp_neg and pinned_sin do, the same way.
namespace {

#if defined(__GNUC__) || defined(__clang__)
#define VORNE_INLINE inline __attribute__((always_inline))
#else
#define VORNE_INLINE inline
#endif

// The series' loops written out, so that no loop is left inside the batch
// loops.
#if defined(__GNUC__) || defined(__clang__)
#define VORNE_UNROLL _Pragma("GCC unroll 16")
#else
#define VORNE_UNROLL
#endif

VORNE_INLINE double max0(double v) { return 0.0 < v ? v : 0.0; } // std::max(0.0, v)

VORNE_INLINE double atan2_deg_lane(double y, double x)
{
    const double ax = std::fabs(x), ay = std::fabs(y);
    const double hi = ax < ay ? ay : ax, lo = ay < ax ? ay : ax;
    // (q - 1) / (q + 1) or q / 1, which is q: one division either way.
    const double q = lo / hi;
    const bool shift = q > 0.41421356237309503;
    const double t = (shift ? q - 1 : q) / (shift ? q + 1 : 1);
    const double base = shift ? kPi / 4 : 0;
    const double t2 = t * t;
    double s = 0;
    VORNE_UNROLL
    for (size_t n = 14; n-- > 0;)
        s = kReciprocal[2 * n + 1] - t2 * s;
    const double a0 = base + t * s, a0_turned = kPi / 2 - a0;
    const double a1 = ay > ax ? a0_turned : a0, a1_turned = kPi - a1;
    const double a = x < 0 ? a1_turned : a1;
    const double deg0 = a * (180 / kPi), deg0_turned = 360 - deg0;
    const double deg = y < 0 ? deg0_turned : deg0;
    return ((hi == 0) | (deg >= 360)) ? 0 : deg;
}

VORNE_INLINE double exp_neg_lane(double x)
{
    // k = int(x / ln 2 + 0.5), the truncation of a positive number: its
    // nearest integer (by adding 2^52 and taking it off again), less one
    // where that rounded up. Exact below 2^51, and x <= 700 here.
    const double y = x * 1.4426950408889634 + 0.5;
    const double nearest = (y + 4503599627370496.0) - 4503599627370496.0, below = nearest - 1;
    const double k = nearest > y ? below : nearest;
    const double r = (x - k * 6.93147180369123816490e-01) - k * 1.90821492927058770002e-10;
    double p = 1;
    VORNE_UNROLL
    for (size_t i = 14; i >= 1; --i)
        p = 1 - r * p * kReciprocal[i];
    // 2^-k from its bits: 1023 - k added to 2^52 has it in the low bits.
    const uint64_t e = same_bits<uint64_t>((1023 - k) + 4503599627370496.0) << 52;
    const double v = p * same_bits<double>(e);
    return x > 700 ? 0 : v;
}

VORNE_INLINE double sin_lane(double x)
{
    const double x2 = x * x;
    double s = 1;
    VORNE_UNROLL
    for (size_t n = 11; n >= 1; --n)
        s = 1 - x2 * s * kReciprocal[2 * n] * kReciprocal[2 * n + 1];
    return x * s;
}

VORNE_INLINE double de2000_lane(double xL, double xa, double xb, double xC, double yL, double ya, double yb, double yC)
{
    const double c7 = pow7(0.5 * (xC + yC));
    const double lift = 1.5 - 0.5 * std::sqrt(c7 / (c7 + kPow25_7));
    const double a1 = xa * lift, a2 = ya * lift;
    const double c1 = std::sqrt(a1 * a1 + xb * xb), c2 = std::sqrt(a2 * a2 + yb * yb);
    const double dl = yL - xL, dc = c2 - c1;
    const double da = a2 - a1, db = yb - xb;
    const double dh_size = std::sqrt(max0(da * da + db * db - dc * dc));
    const double dh = a1 * yb - xb * a2 < 0 ? -dh_size : dh_size;
    const bool grey = (c1 == 0) | (c2 == 0);
    const double sx = a1 * c2 + a2 * c1, sy = xb * c2 + yb * c1, gx = a1 + a2, gy = xb + yb;
    const double ux = grey ? gx : sx, uy = grey ? gy : sy;
    const double n = std::sqrt(ux * ux + uy * uy);
    // ux / n and uy / n, or -b1 / c1 and a1' / c1, or 1 / 1 and 0 / 1.
    const double across = n > 0 ? n : c1 > 0 ? c1 : 1;
    const double ch = (n > 0 ? ux : c1 > 0 ? -xb : 1) / across;
    const double sh = (n > 0 ? uy : c1 > 0 ? a1 : 0) / across;
    const double ch2 = ch * ch - sh * sh, sh2 = 2 * sh * ch;
    const double ch3 = ch * (4 * ch * ch - 3), sh3 = sh * (3 - 4 * sh * sh);
    const double ch4 = ch2 * ch2 - sh2 * sh2, sh4 = 2 * sh2 * ch2;
    const double t = 1 - 0.17 * (ch * kCos30 + sh * kSin30) + 0.24 * ch2 + 0.32 * (ch3 * kCos6 - sh3 * kSin6) -
                     0.20 * (ch4 * kCos63 + sh4 * kSin63);

    const double lm = 0.5 * (xL + yL) - 50, cm = 0.5 * (c1 + c2);
    const double sl = 1 + 0.015 * lm * lm / std::sqrt(20 + lm * lm), sc = 1 + 0.045 * cm, shw = 1 + 0.015 * cm * t;
    const double tl = dl / sl, tc = dc / sc, th = dh / shw;
    const double sum = tl * tl + tc * tc + th * th;
    const double cos_phi = ch * kCos275 + sh * kSin275;
    const double z = atan2_deg_lane(sh * kCos275 - ch * kSin275, cos_phi) / 25;
    const double z_wrapped = z - 360.0 / 25;
    const double zz_wrapped = z_wrapped * z_wrapped, zz_plain = z * z;
    const double zz = z > 180.0 / 25 ? zz_wrapped : zz_plain;
    const double cm7 = pow7(cm);
    const double theta = 30 * exp_neg_lane(zz) * (kPi / 180);
    const double turned = sum - 2 * std::sqrt(cm7 / (cm7 + kPow25_7)) * sin_lane(2 * theta) * tc * th;
    return std::sqrt(max0(cos_phi > 0.25881904510252076 ? turned : sum));
}

VORNE_INLINE double floor_lane(double xL, double yL)
{
    const double dl = yL - xL;
    const double lm = 0.5 * (xL + yL) - 50;
    const double sl = 1 + 0.015 * lm * lm / std::sqrt(20 + lm * lm);
    return std::fabs(dl / sl) * (1 - 1e-9);
}

} // namespace

VORNE_LANES void ciede2000_column(LabLanes px, size_t n, const Lab& c, double* __restrict out)
{
    const double* __restrict L = px.L;
    const double* __restrict a = px.a;
    const double* __restrict b = px.b;
    const double* __restrict C = px.C;
    const double cL = c.L, ca = c.a, cb = c.b, cC = c.C;
    for (size_t i = 0; i < n; ++i)
        out[i] = de2000_lane(L[i], a[i], b[i], C[i], cL, ca, cb, cC);
}

VORNE_LANES void ciede2000_row(const Lab& c, LabLanes py, size_t n, double* __restrict out)
{
    const double* __restrict L = py.L;
    const double* __restrict a = py.a;
    const double* __restrict b = py.b;
    const double* __restrict C = py.C;
    const double cL = c.L, ca = c.a, cb = c.b, cC = c.C;
    for (size_t i = 0; i < n; ++i)
        out[i] = de2000_lane(cL, ca, cb, cC, L[i], a[i], b[i], C[i]);
}

VORNE_LANES void ciede2000_pairs(LabLanes x, LabLanes y, size_t n, double* __restrict out)
{
    const double* __restrict xL = x.L;
    const double* __restrict xa = x.a;
    const double* __restrict xb = x.b;
    const double* __restrict xC = x.C;
    const double* __restrict yL = y.L;
    const double* __restrict ya = y.a;
    const double* __restrict yb = y.b;
    const double* __restrict yC = y.C;
    for (size_t i = 0; i < n; ++i)
        out[i] = de2000_lane(xL[i], xa[i], xb[i], xC[i], yL[i], ya[i], yb[i], yC[i]);
}

VORNE_LANES void ciede2000_floor_column(LabLanes px, size_t n, const Lab& c, double* __restrict out)
{
    const double* __restrict L = px.L;
    const double cL = c.L;
    for (size_t i = 0; i < n; ++i)
        out[i] = floor_lane(L[i], cL);
}
