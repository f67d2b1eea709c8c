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

// The mask words of n symbols' lines from their bytes of transparency bits
// (SpritePicture::clear): each bit made two, 11 for a transparent pixel,
// the first in the top two bits, as the raster words are laid out.
void mask_words(const uint8_t* bits, size_t n, uint16_t* words)
{
    for (size_t i = 0; i < n; ++i) {
        unsigned word = 0;
        for (unsigned c = 8; c-- > 0;)
            word = (word << 2) | (bits[i] >> c & 1) * 3u;
        words[i] = uint16_t(word);
    }
}

} // namespace

bool write_sprite_data(std::FILE* out, const SpritePicture& sp, OutputKind kind, bool c_header,
                       std::string_view prefix, uint32_t sprite_width, uint32_t sprite_height)
{
    // A screen file is the screen as it shows: its lines run across the
    // whole picture, sprites or not; it has no room for a mask.
    const bool sheet = sprite_width && sprite_height && kind != OutputKind::scn;
    const bool mask = has_mask(sp);
    const size_t w = sheet ? sprite_width : sp.width, h = sheet ? sprite_height : sp.height;
    const size_t n = w >> 3, across = sp.width / std::max<size_t>(w, 1), down = sp.height / std::max<size_t>(h, 1);
    DataWriter dw;
    if (!begin_data(dw, out, kind, c_header,
                    {sp.width, sp.height, sheet ? sprite_width : 0, sheet ? sprite_height : 0, mask && kind != OutputKind::scn},
                    prefix))
        return false;
    // A sprite's line at a time: without a sheet the one sprite is the picture
    // and its lines are the picture's. Each line's place in the picture.
    const auto each_line = [&](auto&& put) {
        for (size_t row = 0; row < down && n > 0; ++row)
            for (size_t col = 0; col < across; ++col)
                for (size_t y = row * h; y < (row + 1) * h; ++y)
                    put(y * sp.width + col * w);
    };
    std::vector<uint16_t> line(n), masks(mask ? n : 0);
    each_line([&](size_t at) {
        code_words(sp.values.data() + at, n, sp.palette, line.data());
        if (mask) {
            // Transparent pixels are code 0, whatever their colour over black.
            mask_words(sp.clear.data() + at / 8, n, masks.data());
            for (size_t i = 0; i < n; ++i)
                line[i] = uint16_t(line[i] & ~masks[i]);
        }
        put_data_words(dw, line.data(), n);
    });
    put_data_attributes(dw, sp.palette.attributes.data(), size_t(sp.width >> 3) * (sp.height >> 3), 0);
    if (mask && kind != OutputKind::scn)
        each_line([&](size_t at) {
            mask_words(sp.clear.data() + at / 8, n, masks.data());
            put_data_mask(dw, masks.data(), n);
        });
    return end_data(dw);
}

bool cuts_into_sprites(const SpritePicture& sp, uint32_t sprite_width, uint32_t sprite_height)
{
    return sprite_width && sprite_height && sprite_width % 8 == 0 && sprite_height % 8 == 0 &&
           sp.width % sprite_width == 0 && sp.height % sprite_height == 0;
}

SpriteLoss sprite_loss(const SpritePicture& sp)
{
    SpriteLoss loss;
    for (unsigned value = 0; value < 256; ++value)
        if (sp.count[value]) {
            ++loss.colours;
            if (sp.palette.attributes[code_of(sp.palette, uint8_t(value))] != value)
                loss.pixels += sp.count[value];
        }
    return loss;
}

bool write_sprite_listing(std::FILE* out, const SpritePicture& sp, std::string_view prefix)
{
    return write_sprite_data(out, sp, OutputKind::asm_listing, false, prefix);
}

bool wants_screen_output(const char* name) { return has_extension(name, ".scn"); }

bool write_sprite_screen(std::FILE* out, const SpritePicture& sp)
{
    return write_sprite_data(out, sp, OutputKind::scn, false, {});
}
