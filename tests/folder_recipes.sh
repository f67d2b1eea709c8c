#!/usr/bin/env bash
# The README's two ways of converting a whole folder, run for real: the
# Makefile in examples/ with make -j, and the find | xargs -P command line.
# Both must convert every picture exactly as encscreen does one by one, and
# both must fail, with encscreen's message, when one picture is bad, and
# leave no screen file for it.
#   folder_recipes.sh BIN_DIR SOURCE_DIR WORK_DIR
set -u
bin=$(cd "$1" && pwd) src=$(cd "$2" && pwd) work=$3
command -v make >/dev/null || { echo "SKIPPED: make is not installed"; exit 77; }
/usr/bin/convert -version 2>/dev/null | grep -q ImageMagick ||
  { echo "SKIPPED: ImageMagick's convert is not installed"; exit 77; }
export PATH=$bin:$PATH
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work" && mkdir -p "$work/ref" || fail "cannot make $work"
work=$(cd "$work" && pwd)

# The README shows these recipes; they must be the ones tested here.
readme_make=$(sed -n '/^```make$/,/^```$/p' "$src/README.md" | sed '1d;$d')
[ -n "$readme_make" ] || fail "the README shows no Makefile"
while IFS= read -r line; do
  grep -qxF -- "$line" "$src/examples/pictures.mk" || fail "the README's Makefile line is not in pictures.mk: $line"
done <<<"$readme_make"
xargs_line='xargs -0 -P "$(nproc)" -n 1 sh -c '"'"'encscreen "$1" "${1%.bmp}.scn"; test $? -eq 1 || { echo "$1 failed" >&2; exit 1; }'"'"' sh'
grep -qF -- "  $xargs_line" "$src/README.md" || fail "the README's xargs command is not the one tested here"

# Pictures as users have them: BMPs, a PNG of many colours, a PNG of two.
pictures() {
  mkdir -p "$1"
  cp "$src/examples/sunset.bmp" "$1/sunset.bmp"
  convert "$src/examples/sunset.bmp" -flop "$1/mirror.bmp"
  convert "$src/examples/sunset.bmp" -flip "$1/upside-down.png"
  convert -size 32x16 xc:navy -fill yellow -draw "rectangle 0,0 15,7" "$1/two-colours.png"
}
pictures "$work/ref"
# What encscreen makes of each, one at a time.
for f in "$work"/ref/*; do
  case $f in
  *.bmp) encscreen "$f" "${f%.bmp}.scn.ref" ;;
  *.png) convert "$f" -type truecolor "BMP3:$f.tmp.bmp" && encscreen "$f.tmp.bmp" "${f%.png}.scn.ref" ;;
  esac
  [ $? -eq 1 ] || fail "encscreen could not convert $f"
done

check_folder() { # folder what
  local name
  for name in sunset mirror upside-down two-colours; do
    cmp -s "$work/ref/$name.scn.ref" "$1/$name.scn" || fail "$2: $name.scn is missing or differs"
  done
}

# make -j with examples/pictures.mk.
pictures "$work/make"
(cd "$work/make" && make -j2 -f "$src/examples/pictures.mk") >"$work/make.log" 2>&1 ||
  { cat "$work/make.log"; fail "make -j2 failed"; }
check_folder "$work/make" "make"
(cd "$work/make" && make -j2 -f "$src/examples/pictures.mk") | grep -q "Nothing to be done" ||
  fail "make converted again what had not changed"
head -c 5000 "$src/examples/sunset.bmp" >"$work/make/broken.bmp"
(cd "$work/make" && make -j2 -f "$src/examples/pictures.mk") >"$work/make.log" 2>&1 &&
  fail "make succeeded with a broken picture"
grep -q "bmpfile is truncated" "$work/make.log" || fail "make did not show encscreen's message"
[ ! -e "$work/make/broken.scn" ] || fail "make left a screen file for the broken picture"

# find | xargs -P, the command line exactly as the README gives it.
pictures "$work/xargs"
rm "$work/xargs"/*.png
(cd "$work/xargs" &&
  find . -name '*.bmp' -print0 |
  xargs -0 -P "$(nproc)" -n 1 sh -c 'encscreen "$1" "${1%.bmp}.scn"; test $? -eq 1 || { echo "$1 failed" >&2; exit 1; }' sh
) >"$work/xargs.log" 2>&1 || { cat "$work/xargs.log"; fail "find | xargs failed"; }
for name in sunset mirror; do
  cmp -s "$work/ref/$name.scn.ref" "$work/xargs/$name.scn" || fail "xargs: $name.scn is missing or differs"
done
head -c 5000 "$src/examples/sunset.bmp" >"$work/xargs/broken.bmp"
(cd "$work/xargs" &&
  find . -name '*.bmp' -print0 |
  xargs -0 -P "$(nproc)" -n 1 sh -c 'encscreen "$1" "${1%.bmp}.scn"; test $? -eq 1 || { echo "$1 failed" >&2; exit 1; }' sh
) >"$work/xargs.log" 2>&1 && fail "find | xargs succeeded with a broken picture"
grep -q "broken.bmp failed" "$work/xargs.log" || fail "find | xargs did not name the broken picture"
echo "folder recipes: make -j and xargs -P convert every picture"
