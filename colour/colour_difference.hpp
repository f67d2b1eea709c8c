// How far the screen's colours are from the picture's, as the page's loss
// map shows it: CIE L*a*b* of sRGB (D65 white) and the CIEDE2000 difference.
//
// Single precision, no angle taken but one near blue, and a line of pairs in
// one loop without branches, which the compiler turns into SIMD: the map is a
// picture for the eye, and a 4096x4096 one's 16.7 million differences should
// take a fraction of a second (1.1 s with libm's atan2, sin and cos, one pair
// at a time). noexcept matters in the wasm build: there a call that might
// throw, made where an exception would be caught, goes out through
// JavaScript and back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct MapLab {
    float l, a, b;
};

// What to_lab looks up, computed once: the 256 sRGB levels made linear, and
// L*a*b*'s cube-root function at 4096 steps from 0 to 1 (interpolated
// between them, it is off by less than 1e-5; three cube roots a pixel were a
// third of the loss map's time).
inline constexpr int kLabSteps = 4096;
struct MapLabTables {
    std::array<float, 256> linear;
    std::array<float, kLabSteps + 1> f;
};
MapLabTables map_lab_tables() noexcept;

MapLab map_lab(const MapLabTables& t, uint8_t r, uint8_t g, uint8_t b) noexcept;

// Colours as three arrays, one for L*, a* and b*: a line of pixels at a time.
struct MapLabLine {
    const float* l;
    const float* a;
    const float* b;
};

// CIEDE2000 with kL = kC = kH = 1, as Sharma, Wu and Dalal (2005) state it:
// out[i] between p's and q's i-th colours, i < n.
void map_ciede2000_pairs(MapLabLine p, MapLabLine q, float* out, size_t n) noexcept;

// The same for one pair.
float map_ciede2000(const MapLab& p, const MapLab& q) noexcept;
