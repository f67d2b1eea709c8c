#!/usr/bin/env python3
"""Draws examples/sunset.bmp, the bundled 256x192 24-bit example picture.

A sunset over the sea: a sky gradient, a sun with a glow, two ranges of hills,
waves and the sun's reflection. Smooth ramps, hard edges and fine detail, so
that symbols quantize to one, two, three and four colours. Deterministic:
running it again gives the same bytes.
"""
import math
import struct
import sys

W, H = 256, 192


def clamp(v):
    return max(0, min(255, int(v)))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def pixel(x, y):
    sun_x, sun_y, sun_r = 168, 92, 22
    horizon = 120
    if y < horizon:
        t = y / horizon
        sky = mix((24, 16, 72), (252, 140, 60), t ** 1.4)
        d = math.hypot(x - sun_x, y - sun_y)
        if d < sun_r:
            sky = (255, 236, 150)
        elif d < sun_r + 30:
            sky = mix((255, 200, 110), sky, (d - sun_r) / 30)
        far = 96 + 10 * math.sin(x / 19.0) + 6 * math.sin(x / 7.0 + 1)
        near = 108 + 9 * math.sin(x / 31.0 + 2) + 4 * math.sin(x / 5.0)
        if y >= near:
            return (40, 24, 48)
        if y >= far:
            return (92, 52, 88)
        return sky
    # The sea: darker with depth, broken by waves and the sun's reflection.
    depth = (y - horizon) / (H - horizon)
    sea = mix((200, 96, 72), (16, 32, 80), depth ** 0.7)
    wave = math.sin(x / 6.0 + y * 1.3) * math.sin(y * 0.9)
    width = 16 + 40 * depth
    if abs(x - sun_x) < width * (0.6 + 0.4 * wave) and (y + x // 3) % 3:
        return (255, 220, 130)
    if wave > 0.7:
        sea = mix(sea, (255, 255, 255), 0.35)
    return sea


def main(path):
    rows = []
    for y in range(H - 1, -1, -1):  # bottom-up, as BMP stores them
        row = bytearray()
        for x in range(W):
            r, g, b = (clamp(c) for c in pixel(x, y))
            row += bytes((b, g, r))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sunset.bmp")
