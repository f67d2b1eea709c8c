// Four screen colours for a set of colours, chosen by how a person sees them.
//
// Both perceptual conversions come down to the same question: given some
// colours, each with a weight (how many pixels have it), which four RGB332
// values, each colour shown as the nearest of them, leave the smallest sum of
// weighted CIEDE2000 differences? encscreen asks it for each symbol's 64
// pixels, encsprite once for a whole picture.
//
// The search: at most four colours each get the RGB332 value nearest to them
// (a colour the screen can show exactly gets itself). More are grouped into
// four by k-means in CIELAB (squared distances, cheap), each group gets the
// RGB332 value nearest to its centre among those around its mean colour, and
// then each of the four values in turn moves one level in red, green or blue
// while that lowers the sum. Everything is in pinned floating point (see
// lab.hpp): the same colours give the same bytes everywhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "colour/lab.hpp"

inline constexpr size_t kMaxColours = 256;

// n distinct colours (1 <= n <= kMaxColours): their bytes, CIELAB and weights.
struct ColourSet {
    size_t n = 0;
    std::array<std::array<uint8_t, 3>, kMaxColours> rgb;
    std::array<Lab, kMaxColours> lab;
    std::array<double, kMaxColours> weight;
};

struct FourColourSearch {
    // Each group's first value: the best of all 256 (for a whole picture)
    // rather than of those around its mean (for a symbol).
    bool every_value = false;
    // Rounds of moving the four values one level at a time (a second round
    // for a symbol gained 0.01 in mean CIEDE2000 for a sixth of the time).
    int passes = 1;
};

// The four attribute bytes; codes[i] is the code of colour i, the nearest of
// the four (the lowest code where two are equally near), what nearest_code
// gives it. Unused codes are black.
std::array<uint8_t, 4> choose_four_colours(const ColourSet& s, const FourColourSearch& how, uint8_t* codes);

// The code of any colour against any four attribute bytes: the nearest of
// them by CIEDE2000 as the screen shows them, the lowest code where two are
// equally near.
uint8_t nearest_code(const Lab& c, const std::array<uint8_t, 4>& attributes);
