// The perceptual quantizer of encscreen: see quantize_perceptual.hpp. Built
// with -ffp-contract=off, as colour/lab.cpp.
#include "encode/quantize_perceptual.hpp"

#include <algorithm>
#include <array>

#include "colour/four_colours.hpp"

namespace {

// The symbol's distinct colours, weighted by how many pixels have each, and
// each pixel's entry among them.
void distinct_colours(const uint8_t* bgr, ptrdiff_t stride, ColourSet& s, std::array<uint8_t, 64>& colour_of)
{
    // Each pixel's colour as 24 bits above its 6-bit index: sorted, equal
    // colours lie together.
    std::array<uint32_t, 64> keyed;
    for (size_t line = 0; line < 8; ++line) {
        const uint8_t* p = bgr + ptrdiff_t(line) * stride;
        for (size_t c = 0; c < 8; ++c, p += 3)
            keyed[8 * line + c] = uint32_t(p[2]) << 22 | uint32_t(p[1]) << 14 | uint32_t(p[0]) << 6 | uint32_t(8 * line + c);
    }
    std::sort(keyed.begin(), keyed.end());

    s.n = 0;
    for (size_t j = 0; j < 64; ++j) {
        const uint32_t rgb = keyed[j] >> 6;
        if (s.n == 0 || rgb != keyed[j - 1] >> 6) {
            s.rgb[s.n] = {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
            s.weight[s.n] = 0;
            ++s.n;
        }
        s.weight[s.n - 1] += 1;
        colour_of[keyed[j] & 63] = uint8_t(s.n - 1);
    }
    for (size_t i = 0; i < s.n; ++i)
        s.lab[i] = lab_of_srgb(s.rgb[i][0], s.rgb[i][1], s.rgb[i][2]);
}

// The raster words of 64 pixels whose codes are code(j), j = 8 * line + column.
template <class Code>
std::array<uint16_t, 8> words_of(Code&& code)
{
    std::array<uint16_t, 8> words;
    for (size_t line = 0; line < 8; ++line) {
        uint16_t word = 0;
        for (unsigned c = 0; c < 8; ++c)
            word = uint16_t(word | raster_bits(code(8 * line + c), c));
        words[line] = word;
    }
    return words;
}

} // namespace

SymbolRaster quantize_perceptual_bgr(const uint8_t* bgr, ptrdiff_t stride)
{
    ColourSet s;
    std::array<uint8_t, 64> colour_of;
    distinct_colours(bgr, stride, s, colour_of);
    std::array<uint8_t, 64> codes;
    SymbolRaster out;
    out.attributes = choose_four_colours(s, FourColourSearch{}, codes.data());
    out.words = words_of([&](size_t j) { return codes[colour_of[j]]; });
    return out;
}

std::array<uint8_t, 4> choose_perceptual_colours(const uint8_t* bgr, ptrdiff_t stride)
{
    ColourSet s;
    std::array<uint8_t, 64> colour_of;
    distinct_colours(bgr, stride, s, colour_of);
    std::array<uint8_t, 64> codes;
    return choose_four_colours(s, FourColourSearch{}, codes.data());
}

std::array<uint16_t, 8> code_perceptual(const uint8_t* bgr, ptrdiff_t stride, const std::array<uint8_t, 4>& attributes)
{
    return words_of([&](size_t j) {
        const uint8_t* p = bgr + ptrdiff_t(j / 8) * stride + 3 * (j % 8);
        return nearest_code(lab_of_srgb(p[2], p[1], p[0]), attributes);
    });
}

PictureError load_screen_perceptual(const char* path, ScreenImage& s, const ReadOptions& opt, unsigned threads)
{
    return read_through_chain(
        path, [&](const LineSource& src) { return encode_picture(src, s, threads, quantize_perceptual_bgr); }, opt);
}
