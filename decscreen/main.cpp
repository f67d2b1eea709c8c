// decscreen: a screen file back to a 24-bit BMP, or a PNG.
//
// The screen file is read and checked whole before the BMP is created, so a
// damaged screen file never destroys a picture already at the output path.
// The screen is what the BMP needs, a ninth of its size; the BMP's rows are
// decoded from it into one reused block and written bottom line first.
#include "cli/cli.hpp"
#include "common/scnfile.hpp"
#include "decscreen/bmp_out.hpp"
#include "decscreen/png_out.hpp"

namespace {

constexpr ProgramFace kDecscreen{"decscreen", 0, 1, "Usage: decscreen <>.scn <>.bmp \n\a", "bmpfile was not opened\n",
                                 "bmpfile was not written\n", OutputMode::binary};

bool fits_bmp(uint32_t width, uint32_t height) { return bmp_file_size(width, height) <= kMaxBmpFileSize; }
// A PNG has no 4 GiB limit: every screen the file format can describe fits.
bool fits_png(uint32_t, uint32_t) { return true; }

int decscreen(Run& run)
{
    // 1. Read the screen file: its header is checked before anything else
    // is read or allocated, then the body is read whole. A name ending in
    // .png gets a PNG of the same pixels; every other name the BMP.
    ScreenImage screen;
    const bool png = wants_png_output(run.output);
    switch (load_screen_file(run.input, screen, png ? fits_png : fits_bmp)) {
    case ScnError::ok:
        break;
    case ScnError::cannot_open:
        return fail(run, "scnfile was not opened\n", false);
    case ScnError::truncated:
        return fail(run, "scnfile is truncated\n", true);
    case ScnError::not_screen:
        return fail(run, "scnfile is not a screen file\n", true);
    case ScnError::too_large:
        return fail(run, "the picture is too large for a bmp file\n", true);
    }

    // 2. Create the BMP.
    if (!create_output(run))
        return kDecscreen.failure;

    // 3. Write it; an old file is replaced only once every byte got there.
    std::FILE* const out = run.out.stream;
    return finish_run(run, png ? write_png_preview(out, screen) : write_bmp24(out, screen));
}

} // namespace

int VORNE_MAIN(int argc, ArgChar** argv) { return run_program(argc, argv, kDecscreen, decscreen); }
