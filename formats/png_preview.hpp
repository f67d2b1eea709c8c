// decscreen's PNG output: the same pixels as its BMP, as an 8-bit RGB,
// non-interlaced PNG, for viewers and web pages that show PNG but not BMP.
#pragma once

#include <cstdio>

#include "formats/screen.hpp"

// True when the output name asks for a PNG: it ends in ".png", in any case.
// The name decides, as a user expects from the extension they typed.
bool wants_png_output(const char* path);

// The text of the "Software" tEXt chunk that marks decscreen's PNGs, so that
// decscreen knows a preview it may replace from a user's picture. It names
// no version: the same screen makes the same bytes in every release.
inline constexpr char kPreviewSoftware[] = "decscreen (VORNE screen tools)";

// Writes the screen as a PNG to a stream opened for binary writing: every
// pixel exactly as in the BMP (pixels with no symbol of their own black).
// False when a write fails, memory runs out, or the screen is 0 pixels wide
// or high, which a PNG cannot be.
bool write_png_preview(std::FILE* out, const ScreenImage& s);
