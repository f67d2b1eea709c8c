#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: corpus/fuzz_bmp and corpus/fuzz_scn.

The seeds are the tests' fixtures: the same pictures in the header layouts that
real BMP writers produce, the headers the readers must refuse, and screen files
of regular and odd sizes. All are small, so that the fuzzer spends its time on
the readers rather than on large pictures. Deterministic: running it again
gives the same bytes.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def picture(w, h, f):
    return [[f(x, y) for x in range(w)] for y in range(h)]


def bmp_header(w, h, bits=24, compression=0, off_bits=54, info_size=40, signature=b"BM"):
    return (signature + struct.pack("<IHHI", 0, 0, 0, off_bits)
            + struct.pack("<IiiHHI", info_size, w, h, 1, bits, compression) + bytes(20))


def make_bmp(p, info_size=40, gap=0, top_down=False, compression=0, signature=b"BM"):
    """Like make_bmp() of the tests: the rest of a larger header and the gap hold 0xA5."""
    h, w = len(p), len(p[0])
    masks = 12 if compression == 3 and info_size == 40 else 0
    off = 14 + info_size + masks + gap
    b = bytearray(bmp_header(w, -h if top_down else h, 24, compression, off, info_size, signature))
    b += b"\xA5" * (off - len(b))
    if compression == 3:
        b[54:66] = struct.pack("<III", 0x00FF0000, 0x0000FF00, 0x000000FF)
    stride = (3 * w + 3) & ~3
    struct.pack_into("<I", b, 2, off + stride * h)
    for i in range(h):
        y = i if top_down else h - 1 - i
        for r, g, bl in p[y]:
            b += bytes((bl, g, r))
        b += bytes(stride - 3 * w)
    return bytes(b)


def make_scn(w, h, fill):
    n = w >> 3
    body = 2 * n * h + 4 * n * (h >> 3)
    return struct.pack("<8H", 0x4353, 0, 0, 16, w, h, 16, 2) + bytes(fill(i) & 0xFF for i in range(body))


def bmp_seeds():
    white_over_black = picture(8, 8, lambda x, y: (255, 255, 255) if y < 4 else (0, 0, 0))
    asymmetric = picture(16, 16, lambda x, y: ((x * 9 + 1) & 255, (y * 5 + 2) & 255, (x * y + 3) & 255))
    six = [(0, 0, 0), (255, 255, 255), (200, 30, 90), (20, 160, 250), (90, 90, 0), (255, 0, 0)]
    sprites = picture(16, 8, lambda x, y: six[(x * 3 + y * 5 + x * y) % 6])
    seeds = {
        "white-over-black": make_bmp(white_over_black),
        "asymmetric": make_bmp(asymmetric),
        "sprites-six-colours": make_bmp(sprites),
        "info-108": make_bmp(sprites, info_size=108),
        "info-124": make_bmp(sprites, info_size=124),
        "info-124-top-down": make_bmp(sprites, info_size=124, top_down=True),
        "gap": make_bmp(white_over_black, gap=333),
        "top-down": make_bmp(sprites, top_down=True),
        "bit-fields": make_bmp(sprites, compression=3),
        "wrong-signature": make_bmp(white_over_black, signature=b"PK"),
        "8-bit": bmp_header(8, 8, bits=8),
        "run-length": bmp_header(8, 8, compression=1),
        "width-12": bmp_header(12, 8),
        "height-min-int": bmp_header(8, -2**31),
        "claims-65528": bmp_header(65528, 65528),
        "claims-65528-top-down": bmp_header(65528, -65528),
        "offset-into-header": bmp_header(8, 8, off_bits=14) + bytes(192),
        "offset-past-end": bmp_header(8, 8, off_bits=100000),
        # Sizes off the multiples of 8, read padded: lines padded to 4 bytes.
        "odd-7x9": make_bmp(picture(7, 9, lambda x, y: six[(x + 2 * y) % 6])),
        "odd-5x3-top-down": make_bmp(picture(5, 3, lambda x, y: six[(x * y + x) % 6]), top_down=True),
        "claims-65527": bmp_header(65527, 3),
    }
    return seeds


def scn_seeds():
    def white_over_black(i):
        return 0xFF if i < 8 else 0x55 if i < 16 else 0xFF if i == 19 else 0

    seeds = {
        "white-over-black": make_scn(8, 8, white_over_black),
        "16x16": make_scn(16, 16, lambda i: i * 37 + 11),
        "12x8": make_scn(12, 8, lambda i: i * 37 + 11),
        "8x12": make_scn(8, 12, lambda i: i * 37 + 11),
        "13x17": make_scn(13, 17, lambda i: i * 37 + 11),
        "5x3": make_scn(5, 3, lambda i: 0),
        "0x0": make_scn(0, 0, lambda i: 0),
        "0x9": make_scn(0, 9, lambda i: 0),
        "7x65535": make_scn(7, 65535, lambda i: 0),
        "claims-65528": struct.pack("<8H", 0x4353, 0, 0, 16, 65528, 65528, 16, 2),
    }
    return seeds


def main():
    for target, seeds in (("fuzz_bmp", bmp_seeds()), ("fuzz_scn", scn_seeds())):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
