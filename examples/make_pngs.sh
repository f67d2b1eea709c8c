#!/usr/bin/env bash
# Draws the README's pictures: the example picture and what the screen mode
# makes of it (encscreen, then decscreen), side by side, whole and as a
# close-up of 4x4 symbols with the symbol grid drawn in; one symbol up close;
# two symbols of red over green, to show how encscreen picks colours; the
# rocket as drawn, by default, with --perceptual, --dither=ordered and
# --dither (the sunset with the last three too); the sprite sheet as the
# screen shows it after encsprite; and a grey ramp with the tints the screen
# gives it.
#   examples/make_pngs.sh [BIN_DIR [OUT_DIR]]     (defaults: build/bin, docs)
# docs/sunset-back.png is decscreen's own PNG preview, as a user gets it;
# ImageMagick's convert draws the example picture as PNG, the close-ups and
# the symbol. The PNGs carry no time stamps, so running it again on the same
# programs gives the same files.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/bin}
out=${2:-$here/../docs}
mkdir -p "$out" && out=$(cd "$out" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$bin/encscreen" "$here/sunset.bmp" "$tmp/sunset.scn" || [ $? -eq 1 ] # 1 is success
[ -s "$tmp/sunset.scn" ] || { echo "encscreen wrote nothing" >&2; exit 1; }
"$bin/decscreen" "$tmp/sunset.scn" "$out/sunset-back.png"

png() { # convert's arguments, the output file last
  convert "${@:1:$#-1}" -strip -define png:exclude-chunks=date,time "${@: -1}"
  [ -s "${@: -1}" ]
}
# The close-up: 32x32 pixels at the sun's edge, each pixel 8x8, the symbol
# borders (every 8 pixels) as thin grey lines.
grid=""
for i in 64 128 192; do grid+=" line $i,0 $i,255 line 0,$i 255,$i"; done
png "$here/sunset.bmp" "$out/sunset.png"
for name in sunset sunset-back; do
  src=$out/sunset-back.png
  [ $name = sunset ] && src=$here/sunset.bmp
  png "$src" -crop 32x32+176+72 +repage -scale 800% -fill none -stroke '#80808080' -draw "$grid" "$out/$name-zoom.png"
done
# One symbol, the README's diagram of a symbol: pixels x 184-191, y 56-63, as
# drawn and as the screen shows them.
convert "$here/sunset.bmp" -crop 8x8+184+56 +repage -scale 1600% "$tmp/symbol.png"
convert "$out/sunset-back.png" -crop 8x8+184+56 +repage -scale 1600% "$tmp/symbol-back.png"
png "$tmp/symbol.png" "$tmp/symbol-back.png" -background white -splice 16x0 +append -chop 16x0 "$out/symbol.png"
# Two symbols of red over green, as drawn (left) and on the screen (right).
# On the left the green (0, 128, 0) is as bright as the red by encscreen's
# weights (256 and 255), so the symbol's pixels all fall into one band and
# come out as one colour; on the right the green is darker, (0, 64, 0), and
# both colours survive.
convert -size 16x8 xc:'rgb(0,128,0)' +antialias -fill 'rgb(255,0,0)' -draw 'rectangle 0,0 15,3' \
  -fill 'rgb(0,64,0)' -draw 'rectangle 8,4 15,7' -type truecolor BMP3:"$tmp/colours.bmp"
"$bin/encscreen" "$tmp/colours.bmp" "$tmp/colours.scn" || [ $? -eq 1 ]
"$bin/decscreen" "$tmp/colours.scn" "$tmp/colours-back.bmp"
convert "$tmp/colours.bmp" -scale 1600% "$tmp/colours.png"
convert "$tmp/colours-back.bmp" -scale 1600% "$tmp/colours-back.png"
png "$tmp/colours.png" "$tmp/colours-back.png" -background white -splice 16x0 +append -chop 16x0 "$out/colours.png"
# The rocket (examples/rocket.png) as drawn, as encscreen makes it by default
# and with --perceptual, each decoded by decscreen to its PNG preview.
png "$here/rocket.png" "$out/rocket.png"
# The sunset's sky with --perceptual, --dither=ordered and --dither as well.
for mode in default perceptual ordered dither; do
  flag=()
  [ $mode = perceptual ] && flag=(--perceptual)
  [ $mode = ordered ] && flag=(--dither=ordered)
  [ $mode = dither ] && flag=(--dither)
  "$bin/encscreen" "${flag[@]}" "$here/rocket.png" "$tmp/rocket-$mode.scn" || [ $? -eq 1 ]
  "$bin/decscreen" "$tmp/rocket-$mode.scn" "$out/rocket-$mode.png"
  [ $mode = default ] && continue
  "$bin/encscreen" "${flag[@]}" "$here/sunset.bmp" "$tmp/sunset-$mode.scn" || [ $? -eq 1 ]
  "$bin/decscreen" "$tmp/sunset-$mode.scn" "$out/sunset-$mode.png"
done
# A sky, a drawn ramp and a drawing, each as drawn, then with --perceptual,
# --dither=ordered and --dither, side by side: the sunset; a dusk sky from
# navy to orange (three straight runs between four colours, top to bottom);
# ImageMagick's own logo: picture (a drawing on white, with black outlines),
# scaled to 256x192.
convert -size 256x64 gradient:'rgb(16,20,70)-rgb(60,40,110)' gradient:'rgb(60,40,110)-rgb(200,90,90)' \
  gradient:'rgb(200,90,90)-rgb(250,160,60)' -append -type truecolor BMP3:"$tmp/ramp.bmp"
convert logo: -resize 256x192 -type truecolor BMP3:"$tmp/drawing.bmp"
cp "$here/sunset.bmp" "$tmp/sky.bmp"
for name in sky ramp drawing; do
  row=("$tmp/$name.bmp")
  for flag in --perceptual --dither=ordered --dither; do
    "$bin/encscreen" "$flag" "$tmp/$name.bmp" "$tmp/$name.scn" || [ $? -eq 1 ]
    "$bin/decscreen" "$tmp/$name.scn" "$tmp/$name${flag//[-=]/}.bmp"
    row+=("$tmp/$name${flag//[-=]/}.bmp")
  done
  png "${row[@]}" -background white -splice 16x0 +append -chop 16x0 "$out/dithers-$name.png"
done
# The sprite sheet through encsprite's screen file output and decscreen, four
# times its size: four colours the screen shows exactly, so nothing is lost.
"$bin/encsprite" "$here/sprites.png" "$tmp/sprites.scn"
"$bin/decscreen" "$tmp/sprites.scn" "$tmp/sprites-back.png"
png "$tmp/sprites-back.png" -scale 400% "$out/sprites.png"
# A grey ramp, 0 to 255 from left to right, above what the screen makes of it:
# RGB332 keeps 8 levels of red and green but only 4 of blue, each truncated,
# so most greys come out tinted yellow or purple.
convert -size 256x16 -define gradient:direction=east gradient:black-white -type truecolor BMP3:"$tmp/greys.bmp"
"$bin/encscreen" "$tmp/greys.bmp" "$tmp/greys.scn" || [ $? -eq 1 ]
"$bin/decscreen" "$tmp/greys.scn" "$tmp/greys-back.bmp"
png "$tmp/greys.bmp" "$tmp/greys-back.bmp" -append -scale 200% "$out/greys.png"
echo "wrote sunset.png, sunset-back.png, sunset-zoom.png, sunset-back-zoom.png, symbol.png, colours.png," \
  "rocket.png, rocket-default.png, rocket-perceptual.png, rocket-ordered.png, rocket-dither.png," \
  "sunset-perceptual.png, sunset-ordered.png, sunset-dither.png, dithers-sky.png, dithers-ramp.png," \
  "dithers-drawing.png, sprites.png and greys.png into $out"
