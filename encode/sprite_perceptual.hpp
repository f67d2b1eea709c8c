// encsprite --perceptual: one palette of four RGB332 colours for the whole
// picture, chosen by CIEDE2000 (colour/four_colours.hpp) from what the pixels
// of each RGB332 value are on average, and each value coded to the nearest of
// the four. A picture of at most four colours that the screen shows exactly
// keeps them all.
#pragma once

#include "formats/picture.hpp"
#include "encode/sprite_palette.hpp"

// The attribute bytes and the code of every value that occurs (0 for the others).
SpritePalette choose_perceptual_palette(const ValueStats& stats);

// The picture at `path` read as load_sprites reads it, with the perceptual palette.
PictureError load_sprites_perceptual(const char* path, SpritePicture& out, const ReadOptions& opt = {});
