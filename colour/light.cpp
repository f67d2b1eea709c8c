// Linear light tables; see light.hpp. Built with -ffp-contract=off.
#include "colour/light.hpp"

#include <algorithm>
#include <cmath>

namespace {

// sRGB's transfer curve undone: c from 0 to 1.
double linear(double c) { return c <= 0.04045 ? c / 12.92 : pinned_pow((c + 0.055) / 1.055, 12, 5); }

const std::array<uint16_t, 256> kLinear = [] {
    std::array<uint16_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = uint16_t(linear(v / 255.0) * 65535 + 0.5);
    return t;
}();

// kThreshold[k]: the light from which byte k + 1 is nearer than byte k, that
// of the sRGB value k + 1/2, in the 24-bit scale of srgb_of_linear.
const std::array<uint32_t, 255> kThreshold = [] {
    std::array<uint32_t, 255> t{};
    for (unsigned k = 0; k < 255; ++k)
        t[k] = uint32_t(linear((k + 0.5) / 255.0) * (65535.0 * 256) + 0.5);
    return t;
}();

// kFirst[b]: the number of thresholds at or below b * 4096, the byte from
// which srgb_of_linear counts on for a light in that 4096-wide step. The
// thresholds lie at least 5000 apart (near black), so a step or two remain.
const std::array<uint8_t, 4096> kFirst = [] {
    std::array<uint8_t, 4096> f{};
    unsigned k = 0;
    for (unsigned b = 0; b < 4096; ++b) {
        while (k < 255 && kThreshold[k] <= b << 12)
            ++k;
        f[b] = uint8_t(k);
    }
    return f;
}();

} // namespace

double pinned_pow(double x, uint32_t num, uint32_t den)
{
    if (x <= 0)
        return 0;
    double r = 1;
    for (uint32_t i = 0; i < num / den; ++i)
        r *= x;
    // The fraction to 30 binary digits: x^(1/2), x^(1/4), ... for each set digit.
    const uint32_t bits = uint32_t((uint64_t(num % den) << 30) / den);
    double root = x;
    for (int k = 29; k >= 0; --k) {
        root = std::sqrt(root);
        if (bits >> k & 1)
            r *= root;
    }
    return r;
}

const std::array<uint16_t, 256>& linear_of_srgb() { return kLinear; }

uint8_t srgb_of_linear(uint32_t light)
{
    // The number of thresholds at or below `light`: those below its step
    // of 4096 counted already, the rest one by one.
    unsigned k = kFirst[std::min(light >> 12, 4095u)];
    while (k < 255 && kThreshold[k] <= light)
        ++k;
    return uint8_t(k);
}
