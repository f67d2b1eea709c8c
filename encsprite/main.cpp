// encsprite: a 24-bit BMP of sprites to a Z80 assembler listing.
#include <cstdio>

#include "common/picture.hpp"
#include "encsprite/listing.hpp"
#include "encsprite/palette.hpp"

namespace {
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
} // namespace

int main(int argc, char** argv)
{
    // 1. Arguments.
    if (argc < 3) {
        std::fputs("Usage: encsprite <>.bmp <>.txt \n\a", stdout);
        return 0;
    }

    // 2-3. Read the picture a symbol row at a time as RGB332 values and
    // choose the palette; the pixels are coded as the listing is written.
    SpritePicture sprites;
    if (const PictureError e = load_sprites(argv[1], sprites); e != PictureError::ok) {
        const ErrorMessage m = picture_error_message(e);
        std::fputs(m.text, m.to_stderr ? stderr : stdout);
        return kFailure;
    }

    // 4. Create the listing, in text mode: CR LF line endings on Windows.
    std::FILE* out = std::fopen(argv[2], "w");
    if (!out) {
        std::fputs("sprfile was not opened\n", stdout);
        return kFailure;
    }

    // 5. Write it, and make sure every byte got there.
    const bool written = write_sprite_listing(out, sprites);
    if (std::fclose(out) != 0 || !written) {
        std::fputs("sprfile was not written\n", stdout);
        return kFailure;
    }
    return kSuccess;
}
