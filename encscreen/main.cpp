// encscreen: a 24-bit BMP picture to a screen file.
//
// Exit status 1 means success and 0 failure, the reverse of the other two
// tools; scripts that call encscreen rely on it.
#include <cstdio>
#include <cstring>
#include <new>

#include "common/cli.hpp"
#include "common/output.hpp"
#include "common/picture.hpp"
#include "common/scnfile.hpp"
#include "encscreen/quantize_luma.hpp"
#include "encscreen/quantize_perceptual.hpp"

namespace {
constexpr int kSuccess = 1;
constexpr int kFailure = 0;
constexpr const char* kUsage = "Usage: encscreen <>.bmp <>.scn \n\a";

int encscreen(int argc, char** argv)
{
    // --- Interim: --perceptual before the two names, until the option parser
    // takes it over. With it dropped, everything below is the default's path.
    const bool perceptual = argc == 4 && std::strcmp(argv[1], "--perceptual") == 0;
    if (perceptual) {
        --argc;
        ++argv;
    }
    // --- end of interim --perceptual ---

    // 1. Arguments: the picture and the screen file, either of them "-".
    if (const auto reply = reply_without_converting(argc, argv, "encscreen", kUsage)) {
        std::fputs(reply->text.c_str(), stdout);
        return reply->success ? kSuccess : kFailure;
    }
    // A screen file on standard output must not get messages mixed into it.
    std::FILE* const say = writes_to_standard_output(argv[2]) ? stderr : stdout;

    // 2-3. Read the picture a symbol row at a time, quantizing each as it
    // arrives; only the screen is kept.
    ScreenImage screen;
    const PictureError e =
        perceptual ? load_screen_perceptual(argv[1], screen) : load_screen_luma(argv[1], screen);
    if (e != PictureError::ok) {
        const ErrorMessage m = picture_error_message(e);
        std::fputs(m.text, m.to_stderr ? stderr : say);
        return kFailure;
    }

    // 4. Only now, with the whole screen ready, create the output.
    Output out;
    if (!open_output(argv[2], OutputMode::binary, out)) {
        std::fputs("scnfile was not opened\n", say);
        return kFailure;
    }

    // 5. Write it; an old file is replaced only once every byte got there.
    if (!write_screen_file(out.stream, screen) || !finish_output(out)) {
        std::fputs("scnfile was not written\n", say);
        return kFailure;
    }
    return kSuccess;
}
} // namespace

int VORNE_MAIN(int argc, ArgChar** argv)
{
    try {
        Utf8Arguments utf8;
        return encscreen(argc, utf8_arguments(argc, argv, utf8));
    } catch (const std::bad_alloc&) {
        std::fputs("not enough memory\n", stderr);
        return kFailure;
    }
}
