// encsprite: a 24-bit BMP or PNG of sprites to a Z80 assembler listing.
#include "cli/cli.hpp"
#include "formats/listing.hpp"
#include "formats/sources.hpp"
#include "io/files.hpp"
#include "encode/sprite_output.hpp"
#include "encode/sprite_palette.hpp"
#include "encode/dither.hpp"
#include "encode/dither_search.hpp"
#include "encode/sprite_perceptual.hpp"

namespace {

constexpr const char* kHelpHead = R"(Usage: encsprite [OPTIONS] PICTURE LISTING
Converts PICTURE, a 24-bit BMP or a PNG of sprites, into LISTING, Z80
assembler source: the raster words (DEFW) under the label SPR: and the
attribute bytes (DEFB) under ATTR:, with one palette of four RGB332 colours
for the whole picture. Either name may be "-", standard input or output.
)";

constexpr const char* kHelpTail = R"(A LISTING name ending in .scn gets a screen file instead of the listing: the
same raster words and attribute bytes behind a screen file's header, for a
look at the sprites with decscreen. A name ending in .c gets C arrays, one
ending in .h the C header that declares them; --format chooses any kind
whatever the name. A picture of more than four screen colours converts with
a warning that says how many pixels show another colour. Transparent pixels
of a PNG take no colour: they are code 0, and every kind but a screen file
gets a mask (MASK, after the attributes) with bits 11 where they are.

Exit status: 0 on success, 1 on failure. A failure prints its message and a
line on standard error that says which file and why. More in: man encsprite
)";

constexpr ProgramFace kEncsprite{"encsprite", 0, 1, kEncspriteUsage, kSprNotOpened, kSprNotWritten, kEncspriteBit,
                                 kHelpHead, kHelpTail};

// What the output is: --format, else by the name: .scn a screen file, .c
// and .h C, anything else the listing.
OutputKind output_kind(const Run& run)
{
    if (run.options.format != OutputKind::unset)
        return run.options.format;
    if (wants_screen_output(run.output))
        return OutputKind::scn;
    return has_extension(run.output, ".c") || has_extension(run.output, ".h") ? OutputKind::c
                                                                               : OutputKind::asm_listing;
}

int encsprite(Run& run)
{
    // 1. A picture at the output is kept, and a screen where anything else
    // goes, and an output is not named like a picture: a mistake costs
    // nothing.
    const OutputKind kind = output_kind(run);
    const bool screen_file = kind == OutputKind::scn;
    const Writes writes = screen_file ? Writes::screen : Writes::listing;
    if (!check_names(run, writes) || !guard_output(run, screen_file ? kKeepPictures : kKeepPictures | kKeepScreens) ||
        !check_output_name(run, writes))
        return kEncsprite.failure;

    // 2. Read the picture a symbol row at a time as RGB332 values and
    // choose the palette; the pixels are coded as the output is written.
    // Transparent pixels take no colour and get a mask.
    SpritePicture sprites;
    ReadOptions opt = reading(run);
    opt.alpha = true;
    const PictureError e =
        run.options.dither == Options::Dither::search    ? load_sprites_dither(run.input, sprites, opt, conversion_threads(run.options))
        : run.options.dither == Options::Dither::ordered ? load_sprites_ordered(run.input, sprites, opt, conversion_threads(run.options))
        : run.options.perceptual ? load_sprites_perceptual(run.input, sprites, opt)
                                 : load_sprites(run.input, sprites, opt);
    if (e != PictureError::ok)
        return picture_failed(run, e);
    const uint32_t sw = run.options.sprite_width, sh = run.options.sprite_height;
    if (sw && !cuts_into_sprites(sprites, sw, sh))
        return fail(run, kSheetNotSprites, true, shown_name(run.input, false).c_str(),
                    "its " + std::to_string(sprites.width) + "x" + std::to_string(sprites.height) +
                        " pixels do not cut into sprites of " + std::to_string(sw) + "x" + std::to_string(sh));

    // Colours merged are said, and the conversion goes on: the output is
    // what it has always been.
    if (const SpriteLoss loss = sprite_loss(sprites); loss.colours > 4)
        std::fprintf(stderr, kColoursMerged, shown_name(run.input, false).c_str(), loss.colours,
                     static_cast<unsigned long long>(loss.pixels), loss.pixels == 1 ? "" : "s");
    if (screen_file && has_mask(sprites))
        std::fprintf(stderr, kScreenNoMask, shown_name(run.input, false).c_str());

    // 3. Create the output: the source kinds in text mode (CR LF line
    // endings on Windows), a screen file and raw bytes in binary.
    if (!create_output(run, is_text_kind(kind) ? OutputMode::text : OutputMode::binary))
        return kEncsprite.failure;

    // 4. Write it; an old file is replaced only once every byte got there.
    const bool c_header = kind == OutputKind::c && has_extension(run.output, ".h");
    return finish_run(run, write_sprite_data(run.out.stream, sprites, kind, c_header, run.options.prefix, sw, sh));
}

} // namespace

int VORNE_MAIN(int argc, ArgChar** argv) { return run_program(argc, argv, kEncsprite, encsprite); }
