// encsprite's outputs: the picture's RGB332 values coded against its palette
// a line at a time as the listing or the screen file is written, so that no
// second copy of the screen is ever made.
#include "encode/sprite_output.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "formats/listing.hpp"
#include "formats/scnfile.hpp"
#include "io/files.hpp"

namespace {

// The raster words of picture line y, coded against the picture's palette:
// word i covers the eight values 8i .. 8i+7, so a line of the top-down
// picture is exactly n words.
void code_line(const SpritePicture& sp, size_t y, uint16_t* words)
{
    const size_t w = sp.width;
    code_words(sp.values.data() + y * w, w >> 3, sp.palette, words);
}

} // namespace

bool write_sprite_listing(std::FILE* out, const SpritePicture& sp, std::string_view prefix)
{
    const size_t n = sp.width >> 3;
    ListingWriter lw;
    if (!begin_listing(lw, out, sp.width, sp.height, prefix))
        return false;
    std::vector<uint16_t> line(n); // the words of the line being written
    for (size_t y = 0; y < sp.height && n > 0; ++y) {
        code_line(sp, y, line.data());
        put_raster_words(lw, line.data(), n);
    }
    put_attribute_lines(lw, sp.palette.attributes.data(), n * (sp.height >> 3), 0);
    return end_listing(lw);
}

bool wants_screen_output(const char* name) { return has_extension(name, ".scn"); }

bool write_sprite_screen(std::FILE* out, const SpritePicture& sp)
{
    if (!write_screen_header(out, sp.width, sp.height))
        return false;
    // The listing's words, a line at a time, so that no second copy of the
    // screen is made: the same order as its DEFW lines.
    const size_t n = sp.width >> 3, symbols = n * (sp.height >> 3);
    std::vector<uint16_t> line(n);
    WriteBack wb{};
    for (size_t y = 0; y < sp.height && n > 0; ++y) {
        code_line(sp, y, line.data());
        if (!write_raster_words(out, line))
            return false;
        count_written(out, wb, 2 * n);
    }
    // The attributes: one block of the four bytes repeated, written over and over.
    std::array<uint8_t, 4096> block;
    const std::array<uint8_t, 4>& a = sp.palette.attributes;
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = a[i % 4];
    for (size_t left = 4 * symbols; left > 0;) {
        const size_t step = std::min(left, block.size());
        if (std::fwrite(block.data(), 1, step, out) != step)
            return false;
        count_written(out, wb, step);
        left -= step;
    }
    return std::fflush(out) == 0 && !std::ferror(out);
}
