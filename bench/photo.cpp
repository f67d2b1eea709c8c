// Drawing the benchmark picture: gradient, discs and noise, a pixel at a time.
#include "bench/photo.hpp"

namespace {

// A well-mixed 32-bit hash of a pixel position: the noise.
uint32_t hash_xy(uint32_t x, uint32_t y)
{
    uint32_t v = x * 0x9E3779B1u ^ (y + 0x632BE5ABu) * 0x85EBCA77u;
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v;
}

uint8_t clamp255(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// 0 .. 32 .. 0 over a period of 64 pixels.
int ripple(uint32_t t)
{
    const int p = int(t & 63);
    return p < 32 ? p : 64 - p;
}

} // namespace

PhotoPixel photo_pixel(uint32_t x, uint32_t y, uint32_t w, uint32_t h)
{
    // Gradient: red grows to the right, blue to the bottom, green along the diagonal.
    const int u = int(uint64_t(x) * 256 / w), v = int(uint64_t(y) * 256 / h);
    int r = u, g = (u + v) / 2 + ripple(x + y) - 16, b = 255 - v;

    // 96-pixel squares of four kinds: smooth, posterised in flat steps, and
    // light or strong noise.
    const uint32_t kind = (x / 96 + 2 * (y / 96)) % 4;
    if (kind == 1) {
        r &= ~31;
        g &= ~31;
        b &= ~31;
    }

    // Discs of radius 14 on a 40-pixel grid, each a flat colour of its own.
    const int dx = int(x % 40) - 20, dy = int(y % 40) - 20;
    if (dx * dx + dy * dy < 14 * 14) {
        const uint32_t c = hash_xy(x / 40, y / 40 + 0x10000);
        r = int(c & 255);
        g = int((c >> 8) & 255);
        b = int((c >> 16) & 255);
    }

    if (kind >= 2) {
        const int strength = kind == 2 ? 6 : 32;
        const uint32_t n = hash_xy(x, y);
        r += int(n & 255) * strength / 128 - strength;
        g += int((n >> 8) & 255) * strength / 128 - strength;
        b += int((n >> 16) & 255) * strength / 128 - strength;
    }
    return {clamp255(r), clamp255(g), clamp255(b)};
}

void photo_line(uint32_t y, uint32_t w, uint32_t h, uint8_t* bgr)
{
    for (uint32_t x = 0; x < w; ++x, bgr += 3) {
        const PhotoPixel p = photo_pixel(x, y, w, h);
        bgr[0] = p.b;
        bgr[1] = p.g;
        bgr[2] = p.r;
    }
}
