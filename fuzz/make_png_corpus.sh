#!/usr/bin/env bash
# Writes the seed corpus of fuzz_png: small PNGs of every colour type, bit
# depth, with and without transparency and interlacing, as ImageMagick and
# Pillow write them (each writer has its own filters, chunk order and zlib
# settings, so the reader meets what real files hold). Dates are left out so
# that running it again gives the same files.
#   fuzz/make_png_corpus.sh        (needs imagemagick and python3-pil)
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/corpus/fuzz_png
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"
rm -f "$out"/*.png

# The source: 16x8, a gradient with a transparent corner and a soft edge.
/usr/bin/convert -size 16x8 gradient:'#ff0000-#0040ff' \( -size 16x8 radial-gradient:white-black \) \
  -alpha off -compose CopyOpacity -composite "$tmp/rgba.png"
im() { /usr/bin/convert "$tmp/rgba.png" -define png:exclude-chunks=date,time "$@"; }
im -alpha off -define png:color-type=2 -define png:bit-depth=8 "png:$out/im-rgb8.png"
im -alpha off -define png:color-type=2 -define png:bit-depth=16 "png:$out/im-rgb16.png"
im -define png:color-type=6 -define png:bit-depth=8 "png:$out/im-rgba8.png"
im -define png:color-type=6 -define png:bit-depth=16 "png:$out/im-rgba16.png"
im -alpha off -colorspace Gray -define png:color-type=0 -define png:bit-depth=1 "png:$out/im-grey1.png"
im -alpha off -colorspace Gray -define png:color-type=0 -define png:bit-depth=2 "png:$out/im-grey2.png"
im -alpha off -colorspace Gray -define png:color-type=0 -define png:bit-depth=4 "png:$out/im-grey4.png"
im -alpha off -colorspace Gray -define png:color-type=0 -define png:bit-depth=16 "png:$out/im-grey16.png"
im -colorspace Gray -define png:color-type=4 -define png:bit-depth=8 "png:$out/im-grey-alpha8.png"
im -colorspace Gray -define png:color-type=4 -define png:bit-depth=16 "png:$out/im-grey-alpha16.png"
im -colors 12 "png8:$out/im-palette-trns.png"
im -alpha off -colors 4 -define png:bit-depth=2 "png8:$out/im-palette2.png"
im -interlace PNG -define png:bit-depth=8 "png:$out/im-rgba8-interlaced.png"
im -alpha off -interlace PNG -define png:bit-depth=16 "png:$out/im-rgb16-interlaced.png"

/usr/bin/python3 - "$tmp/rgba.png" "$out" <<'PY'
import sys
from PIL import Image

src = Image.open(sys.argv[1]).convert("RGBA")
out = sys.argv[2] + "/"
rgb = src.convert("RGB")
grey = src.convert("L")
src.save(out + "pil-rgba.png")
rgb.save(out + "pil-rgb.png")
rgb.save(out + "pil-rgb-trns.png", transparency=rgb.getpixel((0, 0)))
grey.save(out + "pil-grey.png")
grey.save(out + "pil-grey-trns.png", transparency=grey.getpixel((0, 0)))
src.convert("LA").save(out + "pil-grey-alpha.png")
grey.convert("1").save(out + "pil-grey1.png")
grey.point(lambda v: v * 257).convert("I;16").save(out + "pil-grey16.png")
for bits, colours in ((1, 2), (2, 4), (4, 16), (8, 200)):
    rgb.quantize(colours).save(out + "pil-palette%d.png" % bits, bits=bits)
p = src.quantize(16)
p.save(out + "pil-palette-trns.png", transparency=bytes(range(0, 256, 16)))
PY
ls -l "$out"
