// CIE L*a*b* and CIEDE2000 for the page's loss map.
#include "colour/colour_difference.hpp"

#include <algorithm>
#include <cmath>

namespace {
constexpr float kPi = 3.14159265f, kDeg = kPi / 180;
constexpr float k25pow7 = 6103515625.0f;

float pow7(float x)
{
    const float x2 = x * x;
    return x2 * x2 * x2 * x;
}

double lab_f(double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; }

// Between the table's steps; X, Y and Z relative to white stay within 0 .. 1
// but for rounding.
float lab_f(const MapLabTables& t, float v)
{
    if (!(v < 1))
        return float(lab_f(double(v)));
    const float at = std::max(v, 0.0f) * kLabSteps;
    const int i = int(at);
    return t.f[size_t(i)] + (t.f[size_t(i) + 1] - t.f[size_t(i)]) * (at - float(i));
}

} // namespace

MapLabTables map_lab_tables() noexcept
{
    MapLabTables t{};
    for (int v = 0; v < 256; ++v) {
        const double c = v / 255.0;
        t.linear[size_t(v)] = float(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
    for (int i = 0; i <= kLabSteps; ++i)
        t.f[size_t(i)] = float(lab_f(double(i) / kLabSteps));
    return t;
}

MapLab map_lab(const MapLabTables& t, uint8_t r, uint8_t g, uint8_t b) noexcept
{
    const float R = t.linear[r], G = t.linear[g], B = t.linear[b];
    const float x = (0.4124564f * R + 0.3575761f * G + 0.1804375f * B) / 0.95047f;
    const float y = 0.2126729f * R + 0.7151522f * G + 0.0721750f * B;
    const float z = (0.0193339f * R + 0.1191920f * G + 0.9503041f * B) / 1.08883f;
    const float fx = lab_f(t, x), fy = lab_f(t, y), fz = lab_f(t, z);
    return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

namespace {
// cos and sin of 30, 6, 63 and 275 degrees, for the hue weighting T and the
// blue region's rotation.
constexpr float kCos30 = 0.8660254f, kSin30 = 0.5f;
constexpr float kCos6 = 0.9945219f, kSin6 = 0.1045285f;
constexpr float kCos63 = 0.4539905f, kSin63 = 0.8910065f;
constexpr float kCos275 = 0.0871557f, kSin275 = -0.9961947f;

// atan(t) for 0 <= t <= 1: Abramowitz and Stegun 4.4.49, off by at most 2e-8.
inline float atan01(float t)
{
    const float t2 = t * t;
    return t * (1 + t2 * (-0.3333314528f + t2 * (0.1999355085f + t2 * (-0.1420889944f + t2 * (0.1065626393f +
                t2 * (-0.0752896400f + t2 * (0.0429096138f + t2 * (-0.0161657367f + t2 * 0.0028662257f))))))));
}

// exp(-x) for 0 <= x <= 9 as exp(-x / 16) to the 16th: Taylor's series to
// the 7th power, off by less than 1e-5 of the result. (Multiplied by the
// factorials' reciprocals: a division costs the loop several
// multiplications.)
inline float exp_neg(float x)
{
    const float y = x * (1.0f / 16);
    float e = 1 - y * (1 - y * (1.0f / 2) * (1 - y * (1.0f / 3) * (1 - y * (1.0f / 4) *
                  (1 - y * (1.0f / 5) * (1 - y * (1.0f / 6) * (1 - y * (1.0f / 7)))))));
    e *= e;
    e *= e;
    e *= e;
    return e * e;
}

// sin(x) for 0 <= x <= pi / 3: Taylor's series to the 9th power.
inline float sin_small(float x)
{
    const float x2 = x * x;
    return x * (1 - x2 * (1.0f / 6) * (1 - x2 * (1.0f / 20) * (1 - x2 * (1.0f / 42) * (1 - x2 * (1.0f / 72)))));
}
} // namespace

// Without a branch or a call in the loop, so that the compiler computes
// several pairs at once (four in the page's build, -msimd128). As in the
// screen conversions' CIEDE2000, the hue angles are never taken: the hue
// difference and the mean hue's cosines come from the two hue vectors, and
// one angle, from 275 degrees, only for the blue rotation.
void map_ciede2000_pairs(MapLabLine p, MapLabLine q, float* __restrict out, size_t n) noexcept
{
    for (size_t i = 0; i < n; ++i) {
        const float l1 = p.l[i], pa = p.a[i], b1 = p.b[i], l2 = q.l[i], qa = q.a[i], b2 = q.b[i];
        // Chroma lifted on the a* axis for colours near grey.
        const float c7 = pow7((std::sqrt(pa * pa + b1 * b1) + std::sqrt(qa * qa + b2 * b2)) / 2);
        const float lift = 1.5f - 0.5f * std::sqrt(c7 / (c7 + k25pow7));
        const float a1 = pa * lift, a2 = qa * lift;
        const float c1 = std::sqrt(a1 * a1 + b1 * b1), c2 = std::sqrt(a2 * a2 + b2 * b2);
        const float dl = l2 - l1, dc = c2 - c1;
        // The two hue vectors, each scaled by the other's chroma (so both have
        // the length C1' C2'): their difference is a chord of 2 sin(dh' / 2),
        // so dH' = 2 sqrt(C1' C2') sin(dh' / 2) is its length over
        // sqrt(C1' C2'), turned the way colour 2 lies from colour 1.
        const float c12 = c1 * c2;
        const bool grey = c12 == 0;
        const float sx = a1 * c2 + a2 * c1, sy = b1 * c2 + b2 * c1;
        const float dx = a1 * c2 - a2 * c1, dy = b1 * c2 - b2 * c1;
        const float turn = a1 * b2 - b1 * a2 < 0 ? -1.0f : 1.0f;
        const float dh = grey ? 0 : turn * std::sqrt((dx * dx + dy * dy) / (grey ? 1 : c12));
        // The mean hue halves the shorter arc between them: the direction of
        // their sum, or, for hues more than 90 degrees apart (where the sum
        // is small and single precision would lose it), of their difference
        // turned by 90 degrees. A grey has no hue and leaves the other's.
        const bool near = a1 * a2 + b1 * b2 >= 0;
        const float ux = grey ? a1 + a2 : near ? sx : -turn * dy;
        const float uy = grey ? b1 + b2 : near ? sy : turn * dx;
        const float norm = std::sqrt(ux * ux + uy * uy), across = 1 / (norm > 0 ? norm : 1);
        const float ch = norm > 0 ? ux * across : 1, sh = uy * across;
        // cos and sin of 2, 3 and 4 times the mean hue, by the multiple-angle formulas.
        const float ch2 = ch * ch - sh * sh, sh2 = 2 * sh * ch;
        const float ch3 = ch * (4 * ch * ch - 3), sh3 = sh * (3 - 4 * sh * sh);
        const float ch4 = ch2 * ch2 - sh2 * sh2, sh4 = 2 * sh2 * ch2;
        const float t = 1 - 0.17f * (ch * kCos30 + sh * kSin30) + 0.24f * ch2 + 0.32f * (ch3 * kCos6 - sh3 * kSin6) -
                        0.20f * (ch4 * kCos63 + sh4 * kSin63);

        const float lm = (l1 + l2) / 2 - 50, cm = (c1 + c2) / 2;
        const float sl = 1 + 0.015f * lm * lm / std::sqrt(20 + lm * lm), sc = 1 + 0.045f * cm, sw = 1 + 0.015f * cm * t;
        const float tl = dl / sl, tc = dc / sc, th = dh / sw;
        // The blue rotation, 30 exp(-((h - 275) / 25)^2) degrees: phi is the
        // mean hue's angle from 275 degrees, taken where it is within 75
        // degrees (beyond, the rotation changes the result by under 0.01 %).
        const float cos_phi = ch * kCos275 + sh * kSin275, sin_phi = sh * kCos275 - ch * kSin275;
        const bool blue = cos_phi > 0.2588190f;
        const float tan_phi = std::fabs(sin_phi) / (blue ? cos_phi : 1);
        const float phi = tan_phi > 1 ? kPi / 2 - atan01(1 / tan_phi) : atan01(tan_phi);
        const float z = phi * (1 / (25 * kDeg));
        const float theta = 30 * kDeg * exp_neg(std::min(z * z, 9.0f));
        const float cm7 = pow7(cm);
        const float rt = blue ? -2 * std::sqrt(cm7 / (cm7 + k25pow7)) * sin_small(2 * theta) : 0;
        out[i] = std::sqrt(std::max(0.0f, tl * tl + tc * tc + th * th + rt * tc * th));
    }
}

float map_ciede2000(const MapLab& p, const MapLab& q) noexcept
{
    float out = 0;
    map_ciede2000_pairs({&p.l, &p.a, &p.b}, {&q.l, &q.a, &q.b}, &out, 1);
    return out;
}
