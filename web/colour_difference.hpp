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

struct Lab {
    float l, a, b;
};

// The 256 sRGB levels made linear, computed once and handed to to_lab.
std::array<float, 256> linear_levels() noexcept;

Lab to_lab(const std::array<float, 256>& linear, uint8_t r, uint8_t g, uint8_t b) noexcept;

// CIEDE2000 with kL = kC = kH = 1, as Sharma, Wu and Dalal (2005) state it.
float ciede2000(const Lab& p, const Lab& q) noexcept;
