// The benchmark picture: a deterministic, photo-like 24-bit picture of any size.
//
// It mixes what real pictures have, at a scale in pixels that does not depend
// on the picture's size, so that a large picture is a small one repeated in
// character rather than stretched:
//
//   - a smooth gradient across the whole picture, with a gentle ripple of a
//     64-pixel period: symbols of one, two or three bands;
//   - flat discs on a 40-pixel grid whose hard edges cut through symbols at
//     every offset: symbols of two bands;
//   - noise whose strength steps through four levels in 96-pixel squares:
//     symbols of three and four bands.
//
// Only integer arithmetic is used, so every compiler and platform draws the
// same pixels, and a pixel depends on nothing but its position and the
// picture's size, so a picture can be written one line at a time.
#pragma once

#include <cstdint>

struct PhotoPixel {
    uint8_t r, g, b;
};

// Pixel (x, y) of the w x h picture, y = 0 the top line.
PhotoPixel photo_pixel(uint32_t x, uint32_t y, uint32_t w, uint32_t h);

// Line y (0 = top) as a BMP stores it: w pixels of blue, green, red.
void photo_line(uint32_t y, uint32_t w, uint32_t h, uint8_t* bgr);
