// The luminance quantizer of encscreen: four colours for one symbol.
//
// Each pixel gets a brightness Y = R + 2G + B/2 (0 .. 892). The symbol's mean M
// splits it into an upper group (Y >= M) and a lower one; their means H and L
// are two more thresholds. A pixel's code is 3 if Y >= H, else 2 if Y >= M,
// else 1 if Y >= L, else 0, and attribute byte k is the RGB332 of the average
// colour of the pixels with code k (black where no pixel has it).
#pragma once

#include "common/screen.hpp"

SymbolCodes quantize_symbol_luma(const SymbolPixels& p);
