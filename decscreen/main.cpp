// decscreen: a screen file back to a 24-bit BMP.
//
// The screen file is read and checked whole before the BMP is created, so a
// damaged screen file never destroys a picture already at the output path.
#include <cstdio>

#include "common/input.hpp"
#include "common/scnfile.hpp"
#include "decscreen/bmp_out.hpp"
#include "decscreen/png_out.hpp"

namespace {
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
} // namespace

int main(int argc, char** argv)
{
    // 1. Arguments.
    if (argc < 3) {
        std::fputs("Usage: decscreen <>.scn <>.bmp \n\a", stdout);
        return 0;
    }

    // 2. Read the whole screen file.
    Input in;
    if (!open_input(argv[1], in)) {
        std::fputs("scnfile was not opened\n", stdout);
        return kFailure;
    }
    ScreenImage screen;
    const bool complete = read_screen_file(in, screen);
    close_input(in);
    if (!complete) {
        std::fputs("scnfile is truncated\n", stderr);
        return kFailure;
    }
    if (bmp_file_size(screen.width, screen.height) > kMaxBmpFileSize) {
        std::fputs("the picture is too large for a bmp file\n", stderr);
        return kFailure;
    }

    // 3. Create the BMP.
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::fputs("bmpfile was not opened\n", stdout);
        return kFailure;
    }

    // 4. Write it, and make sure every byte got there.
    // A name ending in .png gets a PNG of the same pixels; every other name the BMP.
    const bool written = wants_png_output(argv[2]) ? write_png_preview(out, screen) : write_bmp24(out, screen);
    if (std::fclose(out) != 0 || !written) {
        std::fputs("bmpfile was not written\n", stdout);
        return kFailure;
    }
    return kSuccess;
}
