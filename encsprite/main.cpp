// encsprite: a 24-bit BMP or PNG of sprites to a Z80 assembler listing.
#include "cli/cli.hpp"
#include "formats/listing.hpp"
#include "encode/sprite_output.hpp"
#include "encode/sprite_palette.hpp"
#include "encode/dither.hpp"
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
look at the sprites with decscreen.

Exit status: 0 on success, 1 on failure. A failure prints its message and a
line on standard error that says which file and why. More in: man encsprite
)";

constexpr ProgramFace kEncsprite{"encsprite", 0, 1, kEncspriteUsage, kSprNotOpened, kSprNotWritten, kEncspriteBit,
                                 kHelpHead, kHelpTail};

int encsprite(Run& run)
{
    // 1. A picture at the output is kept, and a screen where a listing goes,
    // and a listing is not named like a picture: a mistake costs nothing. A
    // name ending in .scn gets a screen file.
    const bool screen_file = wants_screen_output(run.output);
    const Writes writes = screen_file ? Writes::screen : Writes::listing;
    if (!check_names(run, writes) || !guard_output(run, screen_file ? kKeepPictures : kKeepPictures | kKeepScreens) ||
        !check_output_name(run, writes))
        return kEncsprite.failure;

    // 2. Read the picture a symbol row at a time as RGB332 values and
    // choose the palette; the pixels are coded as the output is written.
    SpritePicture sprites;
    const PictureError e = run.options.dither == Options::Dither::ordered ? load_sprites_ordered(run.input, sprites, reading(run))
                           : run.options.perceptual ? load_sprites_perceptual(run.input, sprites, reading(run))
                                                    : load_sprites(run.input, sprites, reading(run));
    if (e != PictureError::ok)
        return picture_failed(run, e);

    // 3. Create the output: the listing in text mode (CR LF line endings on
    // Windows), a screen file in binary.
    if (!create_output(run, screen_file ? OutputMode::binary : OutputMode::text))
        return kEncsprite.failure;

    // 4. Write it; an old file is replaced only once every byte got there.
    std::FILE* const out = run.out.stream;
    return finish_run(run, screen_file ? write_sprite_screen(out, sprites)
                                       : write_sprite_listing(out, sprites, run.options.prefix));
}

} // namespace

int VORNE_MAIN(int argc, ArgChar** argv) { return run_program(argc, argv, kEncsprite, encsprite); }
