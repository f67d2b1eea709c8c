#!/usr/bin/python3
"""How close the screen comes to the picture: mean CIEDE2000, default and --perceptual.

    /usr/bin/python3 bench/quality.py [build-folder] [--others]

For six photographs that scikit-image ships (Debian: python3-skimage), each
centre-cropped to 4:3 and resized with Lanczos to 256x192 and 512x384, every
conversion runs through the real programs: encscreen then decscreen, and
encsprite, whose listing's DEFW and DEFB lines are put back into a screen
file for decscreen. The table gives the mean CIEDE2000 between the picture
and what decscreen shows (skimage's rgb2lab and deltaE_ciede2000).

Then a pixel-art sheet drawn here: sprites of 32x32 pixels, each in four
colours the screen shows exactly, of random rectangles, discs and lines; every
symbol holds at most four such colours, and the share of symbols that come
back exactly is printed.

--others measures pictures the conversion was not looked at with: more of
skimage's photographs and a drawn gradient.

The exit status is 1 when the targets on the six photographs are missed:
encscreen --perceptual at least 2.0 lower than the default on average and
lower on every picture, encsprite --perceptual lower on every picture.
"""
import os
import random
import re
import struct
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image, ImageDraw
from skimage import color, data

PICTURES = {
    "astronaut": data.astronaut,
    "coffee": data.coffee,
    "chelsea": data.chelsea,
    "rocket": data.rocket,
    "immunohistochemistry": data.immunohistochemistry,
    "motorcycle_left": lambda: data.stereo_motorcycle()[0],
}
OTHERS = {
    "logo (a drawing)": data.logo,
    "hubble_deep_field": data.hubble_deep_field,
    "retina": data.retina,
    "colorwheel": data.colorwheel,
    "motorcycle_right": lambda: data.stereo_motorcycle()[1],
    "gradient (drawn)": lambda: drawn_gradient(),
}
SIZES = [(256, 192), (512, 384)]


def drawn_gradient():
    y, x = np.mgrid[0:384, 0:512]
    r = 255 * x / 511
    g = 255 * y / 383
    b = 128 + 127 * np.sin(x / 40.0) * np.cos(y / 30.0)
    return np.stack([r, g, b], axis=-1).astype(np.uint8)


def fitted(rgb, w, h):
    """Centre-cropped to w:h, then resized with Lanczos."""
    img = Image.fromarray(np.ascontiguousarray(rgb[..., :3]))
    iw, ih = img.size
    if iw * h > ih * w:
        cw, ch = ih * w // h, ih
    else:
        cw, ch = iw, iw * h // w
    left, top = (iw - cw) // 2, (ih - ch) // 2
    return img.crop((left, top, left + cw, top + ch)).resize((w, h), Image.LANCZOS)


def run(args, ok=(0,)):
    r = subprocess.run(args, capture_output=True)
    if r.returncode not in ok:
        sys.exit(f"{' '.join(args)}: status {r.returncode}: {r.stdout!r} {r.stderr!r}")


def listing_to_screen(asm, scn, w, h):
    text = open(asm).read()
    words = [int(x, 16) for x in re.findall(r"DEFW\t0([0-9A-F]{4})h", text)]
    attrs = [int(x, 16) for x in re.findall(r"0([0-9A-F]{2})h", text.split("ATTR:")[1])]
    with open(scn, "wb") as f:
        f.write(struct.pack("<8H", 0x4353, 0, 0, 16, w, h, 16, 2))
        f.write(struct.pack(f"<{len(words)}H", *words))
        f.write(bytes(attrs))


def shown(bins, mode, program, bmp, work):
    """What decscreen shows for `program` (encscreen or encsprite) in `mode`."""
    w, h = Image.open(bmp).size
    flag = ["--perceptual"] if mode == "perceptual" else []
    scn, back = os.path.join(work, "out.scn"), os.path.join(work, "back.bmp")
    if program == "encscreen":
        run([os.path.join(bins, "encscreen")] + flag + [bmp, scn], ok=(1,))
    else:
        asm = os.path.join(work, "out.asm")
        run([os.path.join(bins, "encsprite")] + flag + [bmp, asm])
        listing_to_screen(asm, scn, w, h)
    run([os.path.join(bins, "decscreen"), scn, back])
    return np.asarray(Image.open(back).convert("RGB"))


def mean_de(a, b):
    return float(color.deltaE_ciede2000(color.rgb2lab(a), color.rgb2lab(b)).mean())


def table(bins, pictures, work):
    print(f"{'picture':<22} {'size':>8} | {'encscreen':>9} {'perceptual':>10} {'gain':>6} | "
          f"{'encsprite':>9} {'perceptual':>10} {'gain':>6}")
    gains, worse = [], []
    for name, load in pictures.items():
        rgb = load()
        for w, h in SIZES:
            img = fitted(rgb, w, h)
            bmp = os.path.join(work, "in.bmp")
            img.save(bmp)
            ref = np.asarray(img)
            row = {}
            for program in ("encscreen", "encsprite"):
                for mode in ("default", "perceptual"):
                    row[program, mode] = mean_de(ref, shown(bins, mode, program, bmp, work))
            g1 = row["encscreen", "default"] - row["encscreen", "perceptual"]
            g2 = row["encsprite", "default"] - row["encsprite", "perceptual"]
            gains.append(g1)
            if g1 <= 0 or g2 <= 0:
                worse.append(f"{name} {w}x{h}")
            print(f"{name:<22} {w:>4}x{h:<3} | {row['encscreen', 'default']:9.2f} {row['encscreen', 'perceptual']:10.2f} "
                  f"{g1:6.2f} | {row['encsprite', 'default']:9.2f} {row['encsprite', 'perceptual']:10.2f} {g2:6.2f}",
                  flush=True)
    print(f"encscreen: mean gain {sum(gains) / len(gains):.2f}; not better on: {', '.join(worse) or 'none'}")
    return sum(gains) / len(gains), worse


SCREEN_LEVELS = ([36 * i for i in range(8)], [36 * i for i in range(8)], [84 * i for i in range(4)])


def pixel_art(w=512, h=384, seed=20):
    """Sprites of 32x32 in four screen colours each: random rectangles, discs, lines."""
    rnd = random.Random(seed)
    img = Image.new("RGB", (w, h))
    draw = ImageDraw.Draw(img)
    for sy in range(0, h, 32):
        for sx in range(0, w, 32):
            pal = [tuple(rnd.choice(levels) for levels in SCREEN_LEVELS) for _ in range(4)]
            draw.rectangle([sx, sy, sx + 31, sy + 31], fill=pal[0])
            for _ in range(rnd.randint(2, 8)):
                c = rnd.choice(pal[1:])
                x0, y0 = sx + rnd.randint(0, 28), sy + rnd.randint(0, 28)
                x1, y1 = min(sx + 31, x0 + rnd.randint(1, 16)), min(sy + 31, y0 + rnd.randint(1, 16))
                kind = rnd.choice("reL")
                if kind == "r":
                    draw.rectangle([x0, y0, x1, y1], fill=c)
                elif kind == "e":
                    draw.ellipse([x0, y0, x1, y1], fill=c)
                else:
                    draw.line([x0, y0, x1, y1], fill=c, width=rnd.randint(1, 2))
    return img


def exact_share(bins, work):
    img = pixel_art()
    bmp = os.path.join(work, "art.bmp")
    img.save(bmp)
    ref = np.asarray(img).astype(int)
    for mode in ("default", "perceptual"):
        back = shown(bins, mode, "encscreen", bmp, work).astype(int)
        same = (ref == back).all(axis=2)
        symbols = same.reshape(ref.shape[0] // 8, 8, ref.shape[1] // 8, 8).all(axis=(1, 3))
        print(f"pixel art 512x384, encscreen {mode:<10}: {symbols.sum()} of {symbols.size} symbols exact "
              f"({100 * symbols.mean():.1f} %)")


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    bins = os.path.join(args[0] if args else "build", "bin")
    with tempfile.TemporaryDirectory() as work:
        print("mean CIEDE2000 between the picture and what decscreen shows (lower is better)")
        gain, worse = table(bins, PICTURES, work)
        if "--others" in sys.argv:
            print("\npictures not used in choosing the method")
            table(bins, OTHERS, work)
        print()
        exact_share(bins, work)
    # The targets: encscreen --perceptual better on every picture and by 2.0
    # on average, encsprite --perceptual better on every picture.
    if gain < 2.0 or worse:
        sys.exit(f"quality targets missed: mean gain {gain:.2f} (at least 2.0), not better on {worse}")


if __name__ == "__main__":
    main()
