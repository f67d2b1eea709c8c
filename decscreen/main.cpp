// decscreen: a screen file back to a 24-bit BMP.
//
// The screen file is read and checked whole before the BMP is created, so a
// damaged screen file never destroys a picture already at the output path.
#include <cstdio>
#include <new>

#include "common/cli.hpp"
#include "common/input.hpp"
#include "common/output.hpp"
#include "common/scnfile.hpp"
#include "decscreen/bmp_out.hpp"

namespace {
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr const char* kUsage = "Usage: decscreen <>.scn <>.bmp \n\a";

int decscreen(int argc, char** argv)
{
    // 1. Arguments: the screen file and the BMP, either of them "-".
    if (const auto reply = reply_without_converting(argc, argv, "decscreen", kUsage)) {
        std::fputs(reply->text.c_str(), stdout);
        return reply->success ? kSuccess : kFailure;
    }
    // A BMP on standard output must not get messages mixed into it.
    std::FILE* const say = writes_to_standard_output(argv[2]) ? stderr : stdout;

    // 2. Read the whole screen file.
    Input in;
    if (!open_input(argv[1], in)) {
        std::fputs("scnfile was not opened\n", say);
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
    Output out;
    if (!open_output(argv[2], OutputMode::binary, out)) {
        std::fputs("bmpfile was not opened\n", say);
        return kFailure;
    }

    // 4. Write it; an old file is replaced only once every byte got there.
    if (!write_bmp24(out.stream, screen) || !finish_output(out)) {
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
