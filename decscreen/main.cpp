// decscreen: a screen file back to a 24-bit BMP, or a PNG.
//
// The screen file is read and checked whole before the BMP is created, so a
// damaged screen file never destroys a picture already at the output path.
// The screen is what the BMP needs, a ninth of its size; the BMP's rows are
// decoded from it into one reused block and written bottom line first.
#include "cli/cli.hpp"
#include "formats/scnfile.hpp"
#include "formats/bmp.hpp"
#include "formats/png_preview.hpp"
#include "formats/previews.hpp"

namespace {

constexpr const char* kHelpHead = R"(Usage: decscreen [OPTIONS] SCREEN PICTURE
Converts SCREEN, a screen file (.scn), into PICTURE: a 24-bit BMP, or a PNG
where the name ends in .png, with the colours the screen shows. Either name
may be "-", standard input or output.
)";

constexpr const char* kHelpTail = R"(Exit status: 0 on success, 1 on failure. A failure prints its message and a
line on standard error that says which file and why. More in: man decscreen
)";

constexpr ProgramFace kDecscreen{"decscreen", 0, 1, kDecscreenUsage, kBmpNotOpened, kBmpNotWritten, kDecscreenBit,
                                 kHelpHead, kHelpTail};

bool fits_bmp(uint32_t width, uint32_t height) { return bmp_file_size(width, height) <= kMaxBmpFileSize; }
// A PNG has no 4 GiB limit: every screen the file format can describe fits.
bool fits_png(uint32_t, uint32_t) { return true; }

// What a file whose header gives no size is, where its first bytes tell.
std::string not_a_screen(std::span<const uint8_t> head)
{
    const std::string what = describe_head(head);
    if (what == "not a picture" || what == "a screen file")
        return "it is not a screen file: its width or height is 0";
    return "it is " + what + ", not a screen file: encscreen makes one of a picture";
}

int decscreen(Run& run)
{
    // 1. A screen or a picture at the output is kept, but for a preview
    // decscreen wrote, and a BMP is not named like a JPEG: a mistake costs
    // nothing.
    run.own_picture = is_own_preview;
    if (!check_names(run, Writes::picture) || !guard_output(run, kKeepPictures | kKeepScreens) ||
        !check_output_name(run, Writes::picture))
        return kDecscreen.failure;

    // 2. Read the screen file: its header is checked before anything else
    // is read or allocated, then the body is read whole. A name ending in
    // .png gets a PNG of the same pixels; every other name the BMP.
    ScreenImage screen;
    ScreenReport report;
    const bool png = wants_png_output(run.output);
    const std::string shown = shown_name(run.input, false);
    const char* name = shown.c_str();
    switch (load_screen_file(run.input, screen, png ? fits_png : fits_bmp, &report)) {
    case ScnError::ok:
        break;
    case ScnError::cannot_open:
        return fail(run, kScnNotOpened, false, name, system_reason(report.error));
    case ScnError::truncated:
        return fail(run, kScnTruncated, true, name,
                    (report.size != kUnknownSize ? "the file has " + std::to_string(report.size)
                                                 : "the data ended after " + std::to_string(report.got)) +
                        " bytes; a " + std::to_string(report.width) + "x" + std::to_string(report.height) +
                        " screen needs " + std::to_string(report.needed));
    case ScnError::not_screen:
        return fail(run, kScnNotScreen, true, name,
                    report.got < kScreenHeaderSize
                        ? "the file ends after " + std::to_string(report.got) + " bytes, inside the header"
                        : not_a_screen(std::span<const uint8_t>(report.head, kScreenHeaderSize)));
    case ScnError::too_large:
        return fail(run, kBmpTooLarge, true, name,
                    "a " + std::to_string(report.width) + "x" + std::to_string(report.height) +
                        " screen makes a BMP of more than 4 GiB; a name ending in .png gets a PNG");
    }

    // 3. Create the picture: the BMP, or the PNG.
    if (!create_output(run, OutputMode::binary))
        return kDecscreen.failure;

    // 4. Write it; an old file is replaced only once every byte got there.
    std::FILE* const out = run.out.stream;
    return finish_run(run, png ? write_png_preview(out, screen) : write_bmp24(out, screen));
}

} // namespace

int VORNE_MAIN(int argc, ArgChar** argv) { return run_program(argc, argv, kDecscreen, decscreen); }
