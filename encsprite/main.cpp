// encsprite: a 24-bit BMP of sprites to a Z80 assembler listing.
#include <cstdio>
#include <cstring>
#include <new>

#include "common/cli.hpp"
#include "common/output.hpp"
#include "common/picture.hpp"
#include "encsprite/listing.hpp"
#include "encsprite/palette.hpp"
#include "encsprite/perceptual.hpp"

namespace {
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr const char* kUsage = "Usage: encsprite <>.bmp <>.txt \n\a";

int encsprite(int argc, char** argv)
{
    // --- Interim: --perceptual before the two names, until the option parser
    // takes it over. With it dropped, everything below is the default's path.
    const bool perceptual = argc == 4 && std::strcmp(argv[1], "--perceptual") == 0;
    if (perceptual) {
        --argc;
        ++argv;
    }
    // --- end of interim --perceptual ---

    // 1. Arguments: the picture and the listing, either of them "-".
    if (const auto reply = reply_without_converting(argc, argv, "encsprite", kUsage)) {
        std::fputs(reply->text.c_str(), stdout);
        return reply->success ? kSuccess : kFailure;
    }
    // A listing on standard output must not get messages mixed into it.
    std::FILE* const say = writes_to_standard_output(argv[2]) ? stderr : stdout;

    // 2-3. Read the picture a symbol row at a time as RGB332 values and
    // choose the palette; the pixels are coded as the listing is written.
    SpritePicture sprites;
    const PictureError e = perceptual ? load_sprites_perceptual(argv[1], sprites) : load_sprites(argv[1], sprites);
    if (e != PictureError::ok) {
        const ErrorMessage m = picture_error_message(e);
        std::fputs(m.text, m.to_stderr ? stderr : say);
        return kFailure;
    }

    // 4. Create the listing, in text mode: CR LF line endings on Windows.
    Output out;
    if (!open_output(argv[2], OutputMode::text, out)) {
        std::fputs("sprfile was not opened\n", say);
        return kFailure;
    }

    // 5. Write it; an old file is replaced only once every byte got there.
    if (!write_sprite_listing(out.stream, sprites) || !finish_output(out)) {
        std::fputs("sprfile was not written\n", say);
        return kFailure;
    }
    return kSuccess;
}
} // namespace

int VORNE_MAIN(int argc, ArgChar** argv)
{
    try {
        Utf8Arguments utf8;
        return encsprite(argc, utf8_arguments(argc, argv, utf8));
    } catch (const std::bad_alloc&) {
        std::fputs("not enough memory\n", stderr);
        return kFailure;
    }
}
