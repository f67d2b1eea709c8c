// encsprite's two outputs of a sprite picture: the listing, and the same
// words and bytes as a screen file -- what the assembled listing holds,
// behind the screen file's header, for a look at the sprites with decscreen.
#pragma once

#include <cstdio>
#include <string_view>

#include "encode/sprite_palette.hpp"

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
