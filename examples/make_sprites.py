#!/usr/bin/env python3
"""Draws examples/sprites.png, the bundled sprite sheet: four 16x16 sprites
side by side (a ship, an invader, a heart and a coin), 64x16 pixels.

Four colours only, each one the screen shows exactly (red and green in steps
of 36, blue in steps of 84), so that encsprite keeps every pixel and
decscreen gives back the very picture. Written as an 8-bit RGB PNG with the
standard library alone; running it again gives the same bytes.
"""
import struct
import sys
import zlib

COLOURS = {
    ".": (0, 0, 0),        # background
    "w": (252, 252, 252),  # white
    "y": (252, 216, 0),    # yellow
    "r": (216, 36, 84),    # red
}

SPRITES = [
    [  # ship
        "................", ".......ww.......", ".......ww.......", "......wwww......",
        "......wrrw......", "......wrrw......", ".....wwwwww.....", "..y..wwwwww..y..",
        "..y.wwwwwwww.y..", "..wwwwwwwwwwww..", ".wwwwwwwwwwwwww.", ".www.ww..ww.www.",
        ".ww...w..w...ww.", "......y..y......", ".....yy..yy.....", "................",
    ],
    [  # invader
        "................", "....w......w....", ".....w....w.....", "....wwwwwwww....",
        "...ww.wwww.ww...", "..wwwwwwwwwwww..", "..w.wwwwwwww.w..", "..w.w......w.w..",
        ".....ww..ww.....", "................", "...yyy....yyy...", "..y...y..y...y..",
        "..y.r.y..y.r.y..", "..y...y..y...y..", "...yyy....yyy...", "................",
    ],
    [  # heart
        "................", "................", "...rrrr..rrrr...", "..rrwwrrrrrrrr..",
        ".rrwwrrrrrrrrrr.", ".rrwrrrrrrrrrrr.", ".rrrrrrrrrrrrrr.", ".rrrrrrrrrrrrrr.",
        "..rrrrrrrrrrrr..", "...rrrrrrrrrr...", "....rrrrrrrr....", ".....rrrrrr.....",
        "......rrrr......", ".......rr.......", "................", "................",
    ],
    [  # coin
        "................", ".....yyyyyy.....", "...yyyyyyyyyy...", "..yyywwyyyyyyy..",
        "..yywwyyyrryyy..", ".yyywyyyyyryyyy.", ".yyyyyyrryyyyyy.", ".yyyyyrryyyyyyy.",
        ".yyyyyyyrryyyyy.", ".yyyyyyyyyryyyy.", ".yyyyrryyyryyyy.", "..yyyyrrrryyyy..",
        "..yyyyyyyyyyyy..", "...yyyyyyyyyy...", ".....yyyyyy.....", "................",
    ],
]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def main(path):
    rows = []
    for y in range(16):
        row = bytearray([0])  # filter type None
        for sprite in SPRITES:
            assert len(sprite) == 16 and len(sprite[y]) == 16
            for c in sprite[y]:
                row += bytes(COLOURS[c])
        rows.append(bytes(row))
    width = 16 * len(SPRITES)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, 16, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/sprites.png")
