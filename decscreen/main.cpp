// decscreen: a screen file back to a 24-bit BMP.
//
// The screen file is read and checked whole before the BMP is created, so a
// damaged screen file never destroys a picture already at the output path.
// The screen is what the BMP needs, a ninth of its size; the BMP's rows are
// decoded from it into one reused block and written bottom line first.
#include <cstdio>
#include <new>

#include "common/cli.hpp"
#include "common/output.hpp"
#include "common/scnfile.hpp"
#include "decscreen/bmp_out.hpp"
#include "decscreen/png_out.hpp"

namespace {
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr const char* kUsage = "Usage: decscreen <>.scn <>.bmp \n\a";

bool fits_bmp(uint32_t width, uint32_t height) { return bmp_file_size(width, height) <= kMaxBmpFileSize; }
// A PNG has no 4 GiB limit: every screen the file format can describe fits.
bool fits_png(uint32_t, uint32_t) { return true; }

int decscreen(int argc, char** argv)
{
    // 1. Arguments: the screen file and the BMP, either of them "-".
    if (const auto reply = reply_without_converting(argc, argv, "decscreen", kUsage)) {
        std::fputs(reply->text.c_str(), stdout);
        return reply->success ? kSuccess : kFailure;
    }
    // A BMP on standard output must not get messages mixed into it.
    std::FILE* const say = writes_to_standard_output(argv[2]) ? stderr : stdout;

    // 2. Read the screen file: its header is checked before anything else
    // is read or allocated, then the body is read whole.
    ScreenImage screen;
    // A name ending in .png gets a PNG of the same pixels; every other name the BMP.
    const bool png = wants_png_output(argv[2]);
    switch (load_screen_file(argv[1], screen, png ? fits_png : fits_bmp)) {
    case ScnError::ok:
        break;
    case ScnError::cannot_open:
        std::fputs("scnfile was not opened\n", say);
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
    Output out;
    if (!open_output(argv[2], OutputMode::binary, out)) {
        std::fputs("bmpfile was not opened\n", say);
        return kFailure;
    }

    // 4. Write it; an old file is replaced only once every byte got there.
    if (!(png ? write_png_preview(out.stream, screen) : write_bmp24(out.stream, screen)) || !finish_output(out)) {
        std::fputs("bmpfile was not written\n", say);
        return kFailure;
    }
    return kSuccess;
}
} // namespace

int VORNE_MAIN(int argc, ArgChar** argv)
{
    try {
        Utf8Arguments utf8;
        return decscreen(argc, utf8_arguments(argc, argv, utf8));
    } catch (const std::bad_alloc&) {
        std::fputs("not enough memory\n", stderr);
        return kFailure;
    }
}
