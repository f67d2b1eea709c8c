// encscreen: a 24-bit BMP picture to a screen file.
//
// Exit status 1 means success and 0 failure, the reverse of the other two
// tools; scripts that call encscreen rely on it.
#include <cstdio>

#include "common/picture.hpp"
#include "common/scnfile.hpp"
#include "encscreen/quantize_luma.hpp"

namespace {
constexpr int kSuccess = 1;
constexpr int kFailure = 0;
} // namespace

int main(int argc, char** argv)
{
    // 1. Arguments.
    if (argc < 3) {
        std::fputs("Usage: encscreen <>.bmp <>.scn \n\a", stdout);
        return kFailure;
    }

    // 2-3. Read the picture a symbol row at a time, quantizing each as it
    // arrives; only the screen is kept.
    ScreenImage screen;
    if (const PictureError e = load_screen_luma(argv[1], screen); e != PictureError::ok) {
        const ErrorMessage m = picture_error_message(e);
        std::fputs(m.text, m.to_stderr ? stderr : stdout);
        return kFailure;
    }

    // 4. Only now, with the whole screen ready, create the output.
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::fputs("scnfile was not opened\n", stdout);
        return kFailure;
    }

    // 5. Write it, and make sure every byte got there.
    const bool written = write_screen_file(out, screen);
    if (std::fclose(out) != 0 || !written) {
        std::fputs("scnfile was not written\n", stdout);
        return kFailure;
    }
    return kSuccess;
}
