// encsprite: a 24-bit BMP or PNG of sprites to a Z80 assembler listing.
#include "cli/cli.hpp"
#include "encsprite/listing.hpp"
#include "encsprite/palette.hpp"

namespace {

constexpr ProgramFace kEncsprite{"encsprite", 0, 1, "Usage: encsprite <>.bmp <>.txt \n\a", "sprfile was not opened\n",
                                 "sprfile was not written\n", OutputMode::text};

int encsprite(Run& run)
{
    // 1. Read the picture a symbol row at a time as RGB332 values and
    // choose the palette; the pixels are coded as the listing is written.
    SpritePicture sprites;
    if (const PictureError e = load_sprites(run.input, sprites); e != PictureError::ok)
        return picture_failed(run, e);

    // 2. Create the listing, in text mode: CR LF line endings on Windows.
    if (!create_output(run))
        return kEncsprite.failure;

    // 3. Write it; an old file is replaced only once every byte got there.
    return finish_run(run, write_sprite_listing(run.out.stream, sprites));
}

} // namespace

int VORNE_MAIN(int argc, ArgChar** argv) { return run_program(argc, argv, kEncsprite, encsprite); }
