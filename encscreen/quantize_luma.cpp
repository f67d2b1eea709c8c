#include "encscreen/quantize_luma.hpp"

SymbolRaster quantize_luma_bgr(const uint8_t* bgr, ptrdiff_t stride)
{
    // The symbol split once into planes of bytes, entry j = 8 * line +
    // column. Every sum below fits 16 bits (at most 64 x 892 = 57088), so the
    // loops over the 64 entries vectorise in 16-bit lanes; masks stand in
    // for branches.
    alignas(16) uint8_t r[64], g[64], b[64];
    for (size_t line = 0; line < 8; ++line) {
        const uint8_t* p = bgr + ptrdiff_t(line) * stride;
        for (size_t c = 0; c < 8; ++c, p += 3) {
            const size_t j = 8 * line + c;
            b[j] = p[0];
            g[j] = p[1];
            r[j] = p[2];
        }
    }
    alignas(16) uint16_t y[64];
    for (size_t j = 0; j < 64; ++j)
        y[j] = uint16_t(r[j] + 2 * g[j] + (b[j] >> 1));

    uint16_t total = 0;
    for (size_t j = 0; j < 64; ++j)
        total = uint16_t(total + y[j]);
    const uint16_t mean = uint16_t(total >> 6);

    // The brightest pixel is at least the mean, so the upper group is never empty.
    uint16_t upper_sum = 0, upper_count = 0;
    for (size_t j = 0; j < 64; ++j) {
        const uint16_t in = y[j] >= mean ? 0xFFFF : 0;
        upper_sum = uint16_t(upper_sum + (y[j] & in));
        upper_count = uint16_t(upper_count - in);
    }
    const uint32_t lower_count = 64u - upper_count;
    const uint16_t high = uint16_t(divide_small(upper_sum, upper_count));
    const uint16_t low = uint16_t(lower_count ? divide_small(uint32_t(total - upper_sum), lower_count) : 0);

    // L <= M <= H, so the code is [Y >= H] + [Y >= M] + [Y >= L] (a pixel
    // exactly on a threshold takes the higher code), and the pixels of code k
    // or more are those at or above threshold k: the sums per code are
    // differences of sums over thresholds.
    uint16_t n3 = 0, n1 = 0;
    uint16_t r3 = 0, r2 = 0, r1 = 0, r0 = 0, g3 = 0, g2 = 0, g1 = 0, g0 = 0, b3 = 0, b2 = 0, b1 = 0, b0 = 0;
    alignas(16) uint16_t code[64];
    for (size_t j = 0; j < 64; ++j) {
        const uint16_t m3 = y[j] >= high ? 0xFFFF : 0, m2 = y[j] >= mean ? 0xFFFF : 0, m1 = y[j] >= low ? 0xFFFF : 0;
        n3 = uint16_t(n3 - m3);
        n1 = uint16_t(n1 - m1);
        r3 = uint16_t(r3 + (r[j] & m3));
        r2 = uint16_t(r2 + (r[j] & m2));
        r1 = uint16_t(r1 + (r[j] & m1));
        r0 = uint16_t(r0 + r[j]);
        g3 = uint16_t(g3 + (g[j] & m3));
        g2 = uint16_t(g2 + (g[j] & m2));
        g1 = uint16_t(g1 + (g[j] & m1));
        g0 = uint16_t(g0 + g[j]);
        b3 = uint16_t(b3 + (b[j] & m3));
        b2 = uint16_t(b2 + (b[j] & m2));
        b1 = uint16_t(b1 + (b[j] & m1));
        b0 = uint16_t(b0 + b[j]);
        code[j] = uint16_t((m3 & 1) + (m2 & 1) + (m1 & 1));
    }

    SymbolRaster out;
    for (size_t line = 0; line < 8; ++line) {
        uint16_t word = 0;
        for (unsigned c = 0; c < 8; ++c)
            word = uint16_t(word | (code[8 * line + c] << (14 - 2 * c)));
        out.words[line] = word;
    }

    // Per code k: count and sums of the pixels at or above threshold k, less
    // those at or above threshold k + 1.
    const uint32_t count[4] = {64u - n1, uint32_t(n1 - upper_count), uint32_t(upper_count - n3), n3};
    const uint32_t sum_r[4] = {uint32_t(r0 - r1), uint32_t(r1 - r2), uint32_t(r2 - r3), r3};
    const uint32_t sum_g[4] = {uint32_t(g0 - g1), uint32_t(g1 - g2), uint32_t(g2 - g3), g3};
    const uint32_t sum_b[4] = {uint32_t(b0 - b1), uint32_t(b1 - b2), uint32_t(b2 - b3), b3};
    for (size_t k = 0; k < 4; ++k) {
        const uint32_t c = count[k];
        out.attributes[k] = c ? pack_rgb332(uint8_t(divide_small(sum_r[k], c)), uint8_t(divide_small(sum_g[k], c)),
                                            uint8_t(divide_small(sum_b[k], c)))
                              : 0;
    }
    return out;
}

SymbolCodes quantize_symbol_luma(const SymbolPixels& p)
{
    std::array<uint8_t, 64 * 3> bgr;
    for (size_t j = 0; j < 64; ++j) {
        bgr[3 * j] = p.b[j];
        bgr[3 * j + 1] = p.g[j];
        bgr[3 * j + 2] = p.r[j];
    }
    const SymbolRaster q = quantize_luma_bgr(bgr.data(), 24);
    SymbolCodes out{q.attributes, {}};
    for (size_t j = 0; j < 64; ++j)
        out.codes[j] = PixelCode((q.words[j / 8] >> (14 - 2 * (j % 8))) & 3);
    return out;
}

ScreenImage encode_screen_luma(const BmpPixels& bmp) { return encode_screen(bmp, quantize_luma_bgr); }
