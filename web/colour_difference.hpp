// How far the screen's colours are from the picture's, as the page's loss
// map shows it: CIE L*a*b* of sRGB (D65 white) and the CIEDE2000 difference.
//
// Single precision and one sine and cosine of the mean hue instead of four
// cosines: the map is a picture for the eye, and a 4096x4096 one must be
// ready in about a second. noexcept matters in the wasm build: there a call
// that might throw, made where an exception would be caught, goes out through
// JavaScript and back, and these run for every pixel.
#pragma once

#include <array>
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

// CIEDE2000 with kL = kC = kH = 1, as Sharma, Wu and Dalal (2005) state it.
float map_ciede2000(const MapLab& p, const MapLab& q) noexcept;
