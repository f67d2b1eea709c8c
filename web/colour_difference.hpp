// How far the screen's colours are from the picture's, as the page's loss
// map shows it: CIE L*a*b* of sRGB (D65 white) and the CIEDE2000 difference.
//
// Single precision and one sine and cosine of the mean hue instead of four
// cosines: the map is a picture for the eye, and a 4096x4096 one must be
// ready in about a second.
#pragma once

#include <array>
#include <cstdint>

struct Lab {
    float l, a, b;
};

// The 256 sRGB levels made linear, computed once and handed to to_lab.
std::array<float, 256> linear_levels();

Lab to_lab(const std::array<float, 256>& linear, uint8_t r, uint8_t g, uint8_t b);

// CIEDE2000 with kL = kC = kH = 1, as Sharma, Wu and Dalal (2005) state it.
float ciede2000(const Lab& p, const Lab& q);
