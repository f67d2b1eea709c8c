// Linear light: the sRGB bytes of a picture undone into the light they stand
// for, and back, in integers built from floating point pinned to the same bits
// everywhere (no libm; see lab.hpp for why).
//
// Averaging pixels, as scaling a picture down does, must add light, not
// bytes: a fine black and white checkerboard looks like the grey of half the
// light, sRGB 188, not the byte mean 128. So the scaler works on these values.
#pragma once

#include <array>
#include <cstdint>

// Each byte's linear light, 0 (black) .. 65535 (white).
const std::array<uint16_t, 256>& linear_of_srgb();

// The byte whose light is nearest a linear value of 0 .. 65535 * 256 (24
// bits: averages keep 8 bits below the table's), nearest as sRGB counts it:
// the thresholds lie at the light of the half-way bytes. Exact for the
// table's own values: srgb_of_linear(linear_of_srgb()[v] << 8) == v.
uint8_t srgb_of_linear(uint32_t light);

// x^(num / den) for 0 <= x <= 1: the whole powers by multiplication, the
// fraction's binary digits as square roots (which IEEE 754 rounds exactly
// everywhere), so every machine gets the same bits. For building tables.
double pinned_pow(double x, uint32_t num, uint32_t den);
