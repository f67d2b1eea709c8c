// encsprite --perceptual: see perceptual.hpp. Built with -ffp-contract=off,
// as colour/lab.cpp.
#include "encode/sprite_perceptual.hpp"

#include "colour/four_colours.hpp"

SpritePalette choose_perceptual_palette(const ValueStats& stats)
{
    // Each value that occurs is one colour: its pixels' mean, rounded,
    // weighted by their number.
    ColourSet s;
    std::array<uint8_t, 256> colour_of{};
    for (size_t v = 0; v < 256; ++v) {
        const uint64_t n = stats.count[v];
        if (n == 0)
            continue;
        for (size_t c = 0; c < 3; ++c)
            s.rgb[s.n][c] = uint8_t((stats.sum[v][c] + n / 2) / n);
        s.lab[s.n] = lab_of_srgb(s.rgb[s.n][0], s.rgb[s.n][1], s.rgb[s.n][2]);
        s.weight[s.n] = double(n);
        colour_of[v] = uint8_t(s.n++);
    }
    SpritePalette p;
    if (s.n == 0)
        return p;
    std::array<uint8_t, kMaxColours> codes;
    // Once for the whole picture, so every value is a candidate and the four
    // move until they settle.
    p.attributes = choose_four_colours(s, FourColourSearch{true, 8}, codes.data());
    for (size_t v = 0; v < 256; ++v)
        if (stats.count[v])
            set_code(p, uint8_t(v), codes[colour_of[v]]);
    return p;
}

PictureError load_sprites_perceptual(const char* path, SpritePicture& out, const ReadOptions& opt)
{
    ValueStats stats;
    const PictureError e = read_through_chain(path, [&](const LineSource& src) { return read_sprites(src, out, &stats); }, opt);
    if (e == PictureError::ok)
        out.palette = choose_perceptual_palette(stats);
    return e;
}
