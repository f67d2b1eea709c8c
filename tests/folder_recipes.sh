#!/usr/bin/env bash
# The README's recipes, run exactly as printed: taken out of README.md and run
# in folders of pictures, with HOME pointing at a folder whose ~/vorne is this
# repository (examples/ and build/bin/ as the tests have them), so that the
# printed paths hold. Each must convert every picture as encscreen (or
# encsprite) does one by one, and fail loudly, leaving nothing behind, on a
# bad picture.
#   folder_recipes.sh BIN_DIR SOURCE_DIR WORK_DIR
set -u
bin=$(cd "$1" && pwd) src=$(cd "$2" && pwd) work=$3
command -v make >/dev/null || { echo "SKIPPED: make is not installed"; exit 77; }
/usr/bin/convert -version 2>/dev/null | grep -q ImageMagick ||
  { echo "SKIPPED: ImageMagick's convert is not installed"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work" && mkdir -p "$work/ref" "$work/home/vorne/build" || fail "cannot make $work"
work=$(cd "$work" && pwd)
ln -s "$src/examples" "$work/home/vorne/examples" && ln -s "$bin" "$work/home/vorne/build/bin" || fail "cannot link ~/vorne"
export HOME=$work/home
plain_path=$PATH # without the programs: "not installed"
installed_path=$bin:$PATH

# The README's fenced block (of the given language) that contains TEXT, or
# another document's (a third argument, a path below the source folder).
block() { # language text [file]
  awk -v lang="$1" -v text="$2" '
    $0 == "```" lang { inside = 1; body = ""; next }
    inside && $0 == "```" { inside = 0; if (index(body, text)) { printf "%s", body; exit } ; next }
    inside { body = body $0 "\n" }' "$src/${3:-README.md}"
}
# The README's first line that starts with PREFIX, with the lines that
# continue it (each line before them ending in a backslash) joined to it as
# the shell joins them.
command_at() { # prefix
  awk -v prefix="$1" 'index($0, prefix) == 1 { found = 1 }
    found { if (sub(/\\$/, "")) { printf "%s", $0; next } print; exit }' "$src/README.md"
}
# Runs a recipe in a folder as a user's shell would; the rest is the caller's.
run() { # folder PATH recipe [VAR=value...]
  local dir=$1 path=$2 recipe=$3
  shift 3
  (cd "$dir" && env PATH="$path" "$@" bash -c "$recipe") >"$work/log" 2>&1
}

# Pictures as users have them: BMPs, PNGs (one of few colours, one 16-bit with
# partial alpha, which ImageMagick would round where encscreen truncates), a
# GIF of few colours and a JPEG; their extensions in all cases, as cameras
# and phones write them.
pictures() {
  mkdir -p "$1"
  cp "$src/examples/sunset.bmp" "$1/sunset.bmp"
  convert "$src/examples/sunset.bmp" -flop "$1/MIRROR.BMP"
  convert -size 32x16 xc:navy -fill yellow -draw "rectangle 0,0 15,7" "$1/Two-Colours.Png"
  convert "$src/examples/sunset.bmp" -flip -alpha set -channel A -fx '0.25+0.75*i/w' +channel -depth 16 "$1/deep-alpha.png"
  convert -size 32x16 xc:navy -fill red -draw "rectangle 8,0 23,15" "$1/few.GIF"
  convert "$src/examples/sunset.bmp" -quality 90 "$1/IMG_0001.JPG"
  convert "$src/examples/sunset.bmp" -flip -quality 90 "$1/photo.jpeg"
}
names="sunset MIRROR Two-Colours deep-alpha few IMG_0001 photo"
pictures "$work/ref"
# What encscreen makes of each, one at a time: BMP and PNG as they are.
for f in "$work"/ref/*; do
  case $f in
  *.bmp | *.BMP | *.png | *.Png) PATH=$installed_path encscreen "$f" "${f%.*}.scn.ref" ;;
  *) convert "$f" -type truecolor "BMP3:$f.tmp.bmp" && PATH=$installed_path encscreen "$f.tmp.bmp" "${f%.*}.scn.ref" ;;
  esac
  [ $? -eq 1 ] || fail "encscreen could not convert $f"
done
check_folder() { # folder what names...
  local dir=$1 what=$2 name
  shift 2
  for name in "$@"; do
    cmp -s "$work/ref/$name.scn.ref" "$dir/$name.scn" || fail "$what: $name.scn is missing or differs"
  done
}

# make -j with examples/pictures.mk: the README's rules are the file's, and
# its command line runs as printed, with the programs installed and without.
while IFS= read -r line; do
  grep -qxF -- "$line" "$src/examples/pictures.mk" || fail "the README's Makefile line is not in pictures.mk: $line"
done < <(block make "ENCSCREEN")
make_line=$(command_at 'cd my-pictures && make ')
[ -n "$make_line" ] || fail "the README shows no make command"
own_program=$(grep -o -m1 'ENCSCREEN=~/vorne/build/bin/encscreen' "$src/README.md") ||
  fail "the README does not say how to use the programs built in build/bin"
pictures "$work/my-pictures"
run "$work" "$installed_path" "$make_line" || { cat "$work/log"; fail "make failed"; }
check_folder "$work/my-pictures" make $names
run "$work" "$installed_path" "$make_line" && grep -q "Nothing to be done" "$work/log" ||
  fail "make converted again what had not changed"
rm "$work"/my-pictures/*.scn
run "$work" "$plain_path" "$make_line $own_program" || { cat "$work/log"; fail "make with the built encscreen failed"; }
check_folder "$work/my-pictures" "make $own_program" $names
head -c 5000 "$src/examples/sunset.bmp" >"$work/my-pictures/broken.bmp"
run "$work" "$installed_path" "$make_line" && fail "make succeeded with a broken picture"
grep -q "bmpfile is truncated" "$work/log" || fail "make did not show encscreen's message"
[ ! -e "$work/my-pictures/broken.scn" ] || fail "make left a screen file for the broken picture"
rm "$work/my-pictures/broken.bmp"
cp "$work/my-pictures/Two-Colours.Png" "$work/my-pictures/sunset.PNG"
rm "$work/my-pictures/sunset.scn"
run "$work" "$installed_path" "$make_line" && fail "make took one of sunset.bmp and sunset.PNG without a word"
grep -q "sunset.bmp sunset.PNG" "$work/log" || { cat "$work/log"; fail "make did not name the clash"; }
[ ! -e "$work/my-pictures/sunset.scn" ] || fail "make wrote sunset.scn from one of two pictures"

# find | xargs -P as printed, which is examples/pictures.sh: the installed
# encscreen, then the built one named by ENCSCREEN as the README says. It
# takes BMP, PNG and JPEG, not GIF.
xargs_recipe=$(block sh "xargs -0")
[ -n "$xargs_recipe" ] || fail "the README shows no xargs recipe"
[ "$xargs_recipe" = "$(sed -n '/^find /,$p' "$src/examples/pictures.sh")" ] ||
  fail "the README's xargs recipe is not what examples/pictures.sh runs"
xargs_names="sunset MIRROR Two-Colours deep-alpha IMG_0001 photo"
pictures "$work/xargs"
run "$work/xargs" "$installed_path" "$xargs_recipe" || { cat "$work/log"; fail "find | xargs failed"; }
check_folder "$work/xargs" xargs $xargs_names
[ ! -e "$work/xargs/few.scn" ] || fail "find | xargs converted a GIF"
rm "$work"/xargs/*.scn
run "$work/xargs" "$plain_path" "$xargs_recipe" "ENCSCREEN=$HOME/vorne/build/bin/encscreen" ||
  { cat "$work/log"; fail "find | xargs with ENCSCREEN failed"; }
check_folder "$work/xargs" "xargs with ENCSCREEN" $xargs_names
head -c 5000 "$src/examples/sunset.bmp" >"$work/xargs/broken.bmp"
run "$work/xargs" "$installed_path" "$xargs_recipe" && fail "find | xargs succeeded with a broken picture"
grep -q "broken.bmp failed" "$work/log" || fail "find | xargs did not name the broken picture"
rm "$work/xargs/broken.bmp"
# Two pictures of one screen: both refused with both names, the screen file
# left as it was, the other pictures converted all the same.
cp "$work/xargs/Two-Colours.Png" "$work/xargs/sunset.PNG"
rm "$work"/xargs/*.scn
run "$work/xargs" "$installed_path" "$xargs_recipe" && fail "find | xargs took one of sunset.bmp and sunset.PNG"
grep -qF "./sunset.bmp and ./sunset.PNG would make the same screen file" "$work/log" &&
  grep -qF "./sunset.PNG and ./sunset.bmp would make the same screen file" "$work/log" ||
  { cat "$work/log"; fail "find | xargs did not name the clash"; }
[ ! -e "$work/xargs/sunset.scn" ] || fail "find | xargs wrote sunset.scn from one of two pictures"
check_folder "$work/xargs" "xargs beside a clash" MIRROR Two-Colours deep-alpha IMG_0001 photo
# And a folder without a picture is no failure.
mkdir -p "$work/none"
run "$work/none" "$installed_path" "$xargs_recipe" || { cat "$work/log"; fail "find | xargs failed in a folder without pictures"; }

# The ImageMagick pipe, on a GIF of few colours (a palette BMP without
# -type truecolor).
pipe=$(command_at 'convert picture.gif ')
[ -n "$pipe" ] || fail "the README shows no ImageMagick pipe"
mkdir -p "$work/pipe" && cp "$work/ref/few.GIF" "$work/pipe/picture.gif"
run "$work/pipe" "$installed_path" "$pipe; test \$? -eq 1" || { cat "$work/log"; fail "the ImageMagick pipe failed"; }
cmp -s "$work/ref/few.scn.ref" "$work/pipe/picture.scn" || fail "the ImageMagick pipe's screen differs"

# Two sprite sheets in one pasmo program: what it assembles is each sheet's
# raster words and attribute bytes, that is encsprite's screen file of each
# without its 16-byte header, one after the other.
if command -v pasmo >/dev/null; then
  sheets=$(block sh "--prefix ships" docs/z80-builds.md)
  [ -n "$sheets" ] || fail "docs/z80-builds.md shows no recipe for several sprite sheets"
  mkdir -p "$work/sheets"
  convert "$src/examples/sprites.png" -crop 32x16+0+0 +repage "$work/sheets/ships.png"
  convert "$src/examples/sprites.png" -crop 32x16+32+0 +repage "$work/sheets/coins.png"
  run "$work/sheets" "$installed_path" "set -e; $sheets" || { cat "$work/log"; fail "the sprite sheets recipe failed"; }
  for s in ships coins; do
    PATH=$installed_path encsprite "$work/sheets/$s.png" "$work/sheets/$s.scn" || fail "encsprite $s.scn failed"
    tail -c +17 "$work/sheets/$s.scn"
  done >"$work/sheets/expected.bin"
  cmp -s "$work/sheets/expected.bin" "$work/sheets/game.bin" || fail "game.bin is not the two sheets' bytes"
else
  echo "pasmo is not installed: the sprite sheets recipe was not run"
fi
echo "folder recipes: make -j, xargs -P, the ImageMagick pipe and the sprite sheets work as printed"
