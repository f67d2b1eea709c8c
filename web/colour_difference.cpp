// CIE L*a*b* and CIEDE2000 for the page's loss map.
#include "web/colour_difference.hpp"

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

// The hue angle in [0, 2 pi); 0 for a grey.
float hue(float b, float a)
{
    if (a == 0 && b == 0)
        return 0;
    const float h = std::atan2(b, a);
    return h < 0 ? h + 2 * kPi : h;
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

float map_ciede2000(const MapLab& p, const MapLab& q) noexcept
{
    const float cm7 = pow7((std::sqrt(p.a * p.a + p.b * p.b) + std::sqrt(q.a * q.a + q.b * q.b)) / 2);
    const float g = 0.5f * (1 - std::sqrt(cm7 / (cm7 + k25pow7)));
    const float a1 = (1 + g) * p.a, a2 = (1 + g) * q.a;
    const float C1 = std::sqrt(a1 * a1 + p.b * p.b), C2 = std::sqrt(a2 * a2 + q.b * q.b);
    const float h1 = hue(p.b, a1), h2 = hue(q.b, a2);
    const bool grey = C1 * C2 == 0;

    float dh = 0;
    if (!grey) {
        dh = h2 - h1;
        if (dh > kPi)
            dh -= 2 * kPi;
        else if (dh < -kPi)
            dh += 2 * kPi;
    }
    const float dL = q.l - p.l, dC = C2 - C1;
    const float dH = 2 * std::sqrt(C1 * C2) * std::sin(dh / 2);

    // The mean hue, halfway along the shorter arc between the two.
    float hm = h1 + h2;
    if (!grey) {
        if (std::fabs(h1 - h2) <= kPi)
            hm /= 2;
        else
            hm = hm < 2 * kPi ? (hm + 2 * kPi) / 2 : (hm - 2 * kPi) / 2;
    }
    // cos(hm - 30), cos(2hm), cos(3hm + 6), cos(4hm - 63) from one sine and
    // cosine by the multiple-angle formulas.
    const float c = std::cos(hm), s = std::sin(hm);
    const float c2 = 2 * c * c - 1, s2 = 2 * s * c;
    const float c3 = c * (4 * c * c - 3), s3 = s * (3 - 4 * s * s);
    const float c4 = 2 * c2 * c2 - 1, s4 = 2 * s2 * c2;
    const float T = 1 - 0.17f * (c * std::cos(30 * kDeg) + s * std::sin(30 * kDeg)) + 0.24f * c2 +
                    0.32f * (c3 * std::cos(6 * kDeg) - s3 * std::sin(6 * kDeg)) -
                    0.20f * (c4 * std::cos(63 * kDeg) + s4 * std::sin(63 * kDeg));
    // The blue-region rotation, which vanishes (below 1e-7) far from a hue of 275 degrees.
    const float away = (hm / kDeg - 275) / 25;
    const float dTheta = away * away < 16 ? 30 * kDeg * std::exp(-away * away) : 0;

    const float Lm = (p.l + q.l) / 2, Cm7 = pow7((C1 + C2) / 2);
    const float Lm50 = (Lm - 50) * (Lm - 50);
    const float Sl = 1 + 0.015f * Lm50 / std::sqrt(20 + Lm50);
    const float Sc = 1 + 0.045f * (C1 + C2) / 2, Sh = 1 + 0.015f * (C1 + C2) / 2 * T;
    const float Rt = dTheta == 0 ? 0 : -std::sin(2 * dTheta) * 2 * std::sqrt(Cm7 / (Cm7 + k25pow7));
    const float l = dL / Sl, cc = dC / Sc, h = dH / Sh;
    return std::sqrt(l * l + cc * cc + h * h + Rt * cc * h);
}
