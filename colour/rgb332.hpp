// RGB332, the screen's colours: one byte RRRGGGBB.
//
// A picture's colour packs to the top bits of its channels; the screen shows
// a byte with each channel's levels spread evenly up to 252. The two are the
// only ways between 24-bit colour and RGB332 anywhere in the programs.
#pragma once

#include <array>
#include <cstdint>

// Top bits of each channel, truncated, never rounded.
inline uint8_t pack_rgb332(uint8_t r, uint8_t g, uint8_t b)
{
    return uint8_t((r & 0xE0) | ((g >> 3) & 0x1C) | (b >> 6));
}

// What the screen shows for an RGB332 byte, as red, green, blue: red and
// green 3 bits times 36, blue 2 bits times 84, so that every channel's
// brightest level is 252. decscreen writes these, and the perceptual
// conversions compare the picture with them.
constexpr std::array<uint8_t, 3> screen_rgb(uint8_t v)
{
    return {uint8_t((v >> 5) * 36), uint8_t(((v >> 2) & 7) * 36), uint8_t((v & 3) * 84)};
}
