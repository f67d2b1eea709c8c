// encscreen: a 24-bit BMP or PNG picture to a screen file.
//
// Exit status 1 means success and 0 failure, the reverse of the other two
// tools; scripts that call encscreen rely on it.
#include "cli/cli.hpp"
#include "formats/scnfile.hpp"
#include "formats/sources.hpp"
#include "io/files.hpp"
#include "encode/quantize_luma.hpp"
#include "encode/dither.hpp"
#include "encode/dither_search.hpp"
#include "encode/quantize_perceptual.hpp"

namespace {

constexpr const char* kHelpHead = R"(Usage: encscreen [OPTIONS] PICTURE SCREEN
Converts PICTURE, a 24-bit BMP or a PNG, into SCREEN, a screen file (.scn):
8x8-pixel symbols, each with four RGB332 colours chosen from its pixels'
brightness. Either name may be "-", standard input or output.
)";

constexpr const char* kHelpTail = R"(--format writes the same screen as a listing, C, SDCC's assembler or raw
bytes instead, for a Z80 build to take as it is.

Exit status: 1 on success and 0 on failure, the reverse of most programs
(scripts rely on it). A failure prints its message and a line on standard
error that says which file and why. More in: man encscreen
)";

constexpr ProgramFace kEncscreen{"encscreen", 1, 0, kEncscreenUsage, kScnNotOpened, kScnNotWritten, kEncscreenBit,
                                 kHelpHead, kHelpTail};

int encscreen(Run& run)
{
    // 1. A picture at the output is kept, and a screen file is not named like
    // a picture: a mistake costs nothing.
    const OutputKind kind = run.options.format == OutputKind::unset ? OutputKind::scn : run.options.format;
    const Writes writes = kind == OutputKind::scn ? Writes::screen : Writes::listing;
    if (!check_names(run, writes) ||
        !guard_output(run, kind == OutputKind::scn ? kKeepPictures : kKeepPictures | kKeepScreens) ||
        !check_output_name(run, writes))
        return kEncscreen.failure;

    // 2. Read the picture a symbol row at a time, quantizing each as it
    // arrives; only the screen is kept.
    ScreenImage screen;
    // --dither searches from the ordered dither's start: band k once band k + 1
    // has arrived (a bottom-up file whole, as it arrives bottom first).
    const unsigned threads = conversion_threads(run.options);
    const PictureError e =
        run.options.dither == Options::Dither::search    ? load_screen_dither(run.input, screen, reading(run), threads)
        : run.options.dither == Options::Dither::ordered ? load_screen_ordered(run.input, screen, reading(run), threads)
        : run.options.perceptual ? load_screen_perceptual(run.input, screen, reading(run), threads)
                                 : load_screen_luma(run.input, screen, reading(run));
    if (e != PictureError::ok)
        return picture_failed(run, e);

    // 3. Only now, with the whole screen ready, create the output.
    if (!create_output(run, is_text_kind(kind) ? OutputMode::text : OutputMode::binary))
        return kEncscreen.failure;

    // 4. Write it (--format: as another kind); an old file is replaced only
    // once every byte got there.
    const bool c_header = kind == OutputKind::c && has_extension(run.output, ".h");
    return finish_run(run, write_screen_as(run.out.stream, screen, kind, c_header, run.options.prefix));
}

} // namespace

int VORNE_MAIN(int argc, ArgChar** argv) { return run_program(argc, argv, kEncscreen, encscreen); }
