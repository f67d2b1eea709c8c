// encsprite: a 24-bit BMP of sprites to a Z80 assembler listing.
#include <cstdio>

#include "common/bmp.hpp"
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

    // 2. Read the whole picture.
    BmpPixels bmp;
    if (const BmpError e = load_bmp24(argv[1], bmp); e != BmpError::ok) {
        const ErrorMessage m = bmp_error_message(e);
        std::fputs(m.text, m.to_stderr ? stderr : stdout);
        return kFailure;
    }

    // 3. One palette for the whole picture, then every symbol coded against
    // it; the pixels are used up on the way.
    const ScreenImage screen = encode_sprites(bmp);
    bmp = BmpPixels{};

    // 4. Create the listing, in text mode: CR LF line endings on Windows.
    std::FILE* out = std::fopen(argv[2], "w");
    if (!out) {
        std::fputs("sprfile was not opened\n", stdout);
        return kFailure;
    }

    // 5. Write it, and make sure every byte got there.
    const bool written = write_sprite_listing(out, screen);
    if (std::fclose(out) != 0 || !written) {
        std::fputs("sprfile was not written\n", stdout);
        return kFailure;
    }
    return kSuccess;
}
