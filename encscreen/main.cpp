// encscreen: a 24-bit BMP or PNG picture to a screen file.
//
// Exit status 1 means success and 0 failure, the reverse of the other two
// tools; scripts that call encscreen rely on it.
#include "cli/cli.hpp"
#include "common/scnfile.hpp"
#include "encscreen/quantize_luma.hpp"

namespace {

constexpr ProgramFace kEncscreen{"encscreen", 1, 0, "Usage: encscreen <>.bmp <>.scn \n\a", "scnfile was not opened\n",
                                 "scnfile was not written\n", OutputMode::binary};

int encscreen(Run& run)
{
    // 1. Read the picture a symbol row at a time, quantizing each as it
    // arrives; only the screen is kept.
    ScreenImage screen;
    if (const PictureError e = load_screen_luma(run.input, screen); e != PictureError::ok)
        return picture_failed(run, e);

    // 2. Only now, with the whole screen ready, create the output.
    if (!create_output(run))
        return kEncscreen.failure;

    // 3. Write it; an old file is replaced only once every byte got there.
    return finish_run(run, write_screen_file(run.out.stream, screen));
}

} // namespace

int VORNE_MAIN(int argc, ArgChar** argv) { return run_program(argc, argv, kEncscreen, encscreen); }
