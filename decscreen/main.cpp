// decscreen: a screen file back to a 24-bit BMP.
//
// The screen file is read and checked whole before the BMP is created, so a
// damaged screen file never destroys a picture already at the output path.
// The screen is what the BMP needs, a ninth of its size; the BMP's rows are
// decoded from it into one reused block and written bottom line first.
#include <cstdio>

#include "common/scnfile.hpp"
#include "decscreen/bmp_out.hpp"

namespace {
constexpr int kSuccess = 0;
constexpr int kFailure = 1;

bool fits_bmp(uint32_t width, uint32_t height) { return bmp_file_size(width, height) <= kMaxBmpFileSize; }
} // namespace

int main(int argc, char** argv)
{
    // 1. Arguments.
    if (argc < 3) {
        std::fputs("Usage: decscreen <>.scn <>.bmp \n\a", stdout);
        return 0;
    }

    // 2. Read the screen file: its header is checked before anything else
    // is read or allocated, then the body is read whole.
    ScreenImage screen;
    switch (load_screen_file(argv[1], screen, fits_bmp)) {
    case ScnError::ok:
        break;
    case ScnError::cannot_open:
        std::fputs("scnfile was not opened\n", stdout);
        return kFailure;
    case ScnError::truncated:
        std::fputs("scnfile is truncated\n", stderr);
        return kFailure;
    case ScnError::not_screen:
        std::fputs("scnfile is not a screen file\n", stderr);
        return kFailure;
    case ScnError::too_large:
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
    const bool written = write_bmp24(out, screen);
    if (std::fclose(out) != 0 || !written) {
        std::fputs("bmpfile was not written\n", stdout);
        return kFailure;
    }
    return kSuccess;
}
