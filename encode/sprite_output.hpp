// encsprite's two outputs of a sprite picture: the listing, and the same
// words and bytes as a screen file -- what the assembled listing holds,
// behind the screen file's header, for a look at the sprites with decscreen.
#pragma once

#include <cstdio>
#include <string_view>

#include "encode/sprite_palette.hpp"
#include "formats/sources.hpp"

// encsprite's listing: the picture's RGB332 values coded against its palette
// as the lines are written. `prefix` is empty (the labels SPR: and ATTR:) or
// one that valid_label_prefix accepts. False when a write or the final flush
// fails.
bool write_sprite_listing(std::FILE* out, const SpritePicture& sp, std::string_view prefix = {});

// True when the output name asks for a screen file: it ends in ".scn", in
// any case. "-" does not: standard output gets the listing.
bool wants_screen_output(const char* name);

// The picture's screen file, to a stream opened for binary writing: the
// header, then the raster words coded line by line as for the listing, then
// the palette's four bytes for every symbol. False when a write or the final
// flush fails.
bool write_sprite_screen(std::FILE* out, const SpritePicture& sp);

// Whether a sheet of sp's size cuts into whole sprites of sprite_width x
// sprite_height (each a multiple of 8 and not 0).
bool cuts_into_sprites(const SpritePicture& sp, uint32_t sprite_width, uint32_t sprite_height);

// The picture as `kind` (C's header where c_header), coded a line at a time.
// With a sprite size (which cuts_into_sprites accepts; 0 x 0 for none) the
// raster goes sprite by sprite, left to right, top to bottom, each sprite's
// words together, its lines from the top (but for a screen file, which is
// the screen as it shows). A picture with transparent pixels gets its mask
// after the attributes, in the raster's order, and its transparent pixels
// code 0 (formats/sources.hpp); a screen file gets no mask. False when a
// write or the final flush fails.
bool write_sprite_data(std::FILE* out, const SpritePicture& sp, OutputKind kind, bool c_header,
                       std::string_view prefix, uint32_t sprite_width = 0, uint32_t sprite_height = 0);

// What the palette loses: how many distinct RGB332 values the picture's
// opaque pixels have, and how many of them show a colour other than their
// own (from the counts made as it was read; none for --dither=ordered).
struct SpriteLoss {
    unsigned colours = 0;
    uint64_t pixels = 0;
};
SpriteLoss sprite_loss(const SpritePicture& sp);
