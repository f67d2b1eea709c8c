#include "encscreen/quantize_luma.hpp"

#include <cstdint>

SymbolCodes quantize_symbol_luma(const SymbolPixels& p)
{
    // Sums stay small: 64 x 892 for luma, 64 x 255 for a channel.
    uint16_t y[64];
    uint32_t total = 0;
    for (size_t j = 0; j < 64; ++j) {
        y[j] = uint16_t(p.r[j] + 2 * p.g[j] + (p.b[j] >> 1));
        total += y[j];
    }
    const uint32_t mean = total >> 6;

    // The brightest pixel is at least the mean, so the upper group is never empty.
    uint32_t upper_sum = 0, upper_count = 0, lower_sum = 0, lower_count = 0;
    for (size_t j = 0; j < 64; ++j) {
        if (y[j] >= mean) {
            upper_sum += y[j];
            ++upper_count;
        } else {
            lower_sum += y[j];
            ++lower_count;
        }
    }
    const uint32_t high = upper_sum / upper_count;
    const uint32_t low = lower_count ? lower_sum / lower_count : 0;

    SymbolCodes q;
    uint32_t count[4] = {}, sum_r[4] = {}, sum_g[4] = {}, sum_b[4] = {};
    for (size_t j = 0; j < 64; ++j) {
        // A pixel exactly on a threshold takes the higher code.
        const PixelCode code = y[j] >= high ? 3 : y[j] >= mean ? 2 : y[j] >= low ? 1 : 0;
        q.codes[j] = code;
        ++count[code];
        sum_r[code] += p.r[j];
        sum_g[code] += p.g[j];
        sum_b[code] += p.b[j];
    }
    for (size_t k = 0; k < 4; ++k) {
        const uint32_t c = count[k];
        q.attributes[k] = c ? pack_rgb332(uint8_t(sum_r[k] / c), uint8_t(sum_g[k] / c), uint8_t(sum_b[k] / c)) : 0;
    }
    return q;
}
