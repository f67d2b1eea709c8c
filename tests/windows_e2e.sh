#!/usr/bin/env bash
# The Windows programs, run under wine, against the Linux ones: every case
# runs both on the same files, in folders of their own, and compares.
#   - screen files and BMPs byte for byte;
#   - the sprite listing with CR LF line endings (the text-mode stream adds
#     the CR there), otherwise the same bytes;
#   - messages on the same stream with CR LF line endings (stdout and stderr
#     are text-mode streams too), and the same exit statuses;
#   - an output the program did not write left as it was.
#
#   windows_e2e.sh WINDOWS_BIN_DIR LINUX_BIN_DIR SOURCE_DIR WORK_DIR
# WINEPREFIX defaults to WORK_DIR/wineprefix; the first run creates it.
set -u
win=$1 lin=$2 src=$3 work=$4

command -v wine >/dev/null || { echo "SKIPPED: wine is not installed"; exit 77; }
for p in encscreen encsprite decscreen; do
  [ -f "$win/$p.exe" ] || { echo "SKIPPED: $win/$p.exe is missing (build it with cmake/mingw-w64-x86_64.cmake)"; exit 77; }
  [ -x "$lin/$p" ] || { echo "FAIL: $lin/$p is missing"; exit 1; }
done
command -v perl >/dev/null || { echo "FAIL: perl is needed to compare line endings"; exit 1; }
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$work/wineprefix}
win=$(cd "$win" && pwd) lin=$(cd "$lin" && pwd) src=$(cd "$src" && pwd)

mkdir -p "$work" "$WINEPREFIX"
work=$(cd "$work" && pwd)
rm -rf "$work/cases" "$work/fixtures"
fx=$work/fixtures
mkdir -p "$fx"

# Fixtures. A 54-byte BMP header: width, height, bits per pixel, compression.
header() {
  perl -e 'print pack("a2 V v v V V V V v v V V V V V V", "BM", 54 + 3 * abs($ARGV[0] * $ARGV[1]),
                      0, 0, 54, 40, $ARGV[0], $ARGV[1], 1, $ARGV[2], $ARGV[3], 0, 0, 0, 0, 0)' "$@"
}
cp "$src/examples/sunset.bmp" "$fx/sunset.bmp"
# 16x8, top-down: white and red on the left, blue and black on the right, so a
# swapped channel, a flipped line or a misplaced symbol all show.
{ header 16 -8 24 0
  perl -e 'for $y (0..7) { for $x (0..15) {
             print $x < 8 ? ($y < 4 ? "\xff\xff\xff" : "\x00\x00\xff") : ($y < 4 ? "\xff\x00\x00" : "\x00\x00\x00") } }'
} >"$fx/small.bmp"
header 16 8 8 0 >"$fx/8bit.bmp"
header 12 8 24 0 >"$fx/width12.bmp"
head -c 20000 "$fx/sunset.bmp" >"$fx/short.bmp"
head -c 30 "$fx/sunset.bmp" >"$fx/30bytes.bmp"
"$lin/encscreen" "$fx/sunset.bmp" "$fx/sunset.scn"
"$lin/encscreen" "$fx/small.bmp" "$fx/small.scn"
head -c 1000 "$fx/sunset.scn" >"$fx/short.scn"
head -c 10 "$fx/sunset.scn" >"$fx/10bytes.scn"

crlf() { perl -pe 's/\n/\r\n/g' "$1"; }

passed=0 failed=0
# case NAME PROGRAM ARGS... ; runs in cases/NAME/{lin,win}, where out.* already
# holds "old" and ../../../fixtures/ holds the fixtures.
case_() {
  local name=$1 prog=$2 side bad=
  shift 2
  for side in lin win; do
    local d=$work/cases/$name/$side
    mkdir -p "$d"
    printf old >"$d/out.scn"; printf old >"$d/out.bmp"; printf old >"$d/out.asm"
    if [ $side = lin ]; then
      (cd "$d" && "$lin/$prog" "$@" >../$side.stdout 2>../$side.stderr; echo $? >../$side.status)
    else
      (cd "$d" && wine "$win/$prog.exe" "$@" >../$side.stdout 2>../$side.stderr </dev/null; echo $? >../$side.status)
    fi
  done
  local c=$work/cases/$name
  cmp -s "$c/lin.status" "$c/win.status" || bad+=" status $(cat "$c/lin.status") vs $(cat "$c/win.status");"
  crlf "$c/lin.stdout" | cmp -s - "$c/win.stdout" || bad+=" standard output differs;"
  crlf "$c/lin.stderr" | cmp -s - "$c/win.stderr" || bad+=" standard error differs;"
  local f
  for f in "$c"/lin/*; do
    f=$(basename "$f")
    [ -f "$c/win/$f" ] || { bad+=" no $f;"; continue; }
    if [ "${f##*.}" = asm ] && [ "$(cat "$c/lin/$f")" != old ]; then
      crlf "$c/lin/$f" | cmp -s - "$c/win/$f" || bad+=" $f is not the listing with CR LF;"
    else
      cmp -s "$c/lin/$f" "$c/win/$f" || bad+=" $f differs;"
    fi
  done
  [ "$(ls "$c/lin" | wc -l)" -eq "$(ls "$c/win" | wc -l)" ] || bad+=" different files written;"
  if [ -z "$bad" ]; then
    passed=$((passed + 1))
    echo "ok   $name (status $(cat "$c/win.status"))"
  else
    failed=$((failed + 1))
    echo "FAIL $name:$bad"
    for s in lin win; do echo "  $s: status $(cat "$c/$s.status"), stdout:"; od -c "$c/$s.stdout" | head -5; echo "  $s stderr:"; od -c "$c/$s.stderr" | head -5; done
  fi
}

# Linked statically: they import only DLLs that every Windows has.
if command -v x86_64-w64-mingw32-objdump >/dev/null; then
  for p in encscreen encsprite decscreen; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$win/$p.exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' |
           grep -vxE 'kernel32\.dll|msvcrt\.dll|ucrtbase\.dll|api-ms-win-.*\.dll|user32\.dll|advapi32\.dll')
    [ -z "$dlls" ] || { echo "FAIL: $p.exe needs $dlls"; exit 1; }
  done
fi

# The first start of wine sets up the prefix and talks about it; not in a case.
start=$(date +%s)
wine cmd /c exit >"$work/wineboot.log" 2>&1 </dev/null
echo "wine ready in $(( $(date +%s) - start )) s"

F=../../../fixtures
start=$(date +%s)
# Conversions.
case_ encscreen-sunset encscreen $F/sunset.bmp out.scn
case_ encscreen-small  encscreen $F/small.bmp out.scn extra-arguments-ignored
case_ decscreen-sunset decscreen $F/sunset.scn out.bmp
case_ decscreen-small  decscreen $F/small.scn out.bmp
case_ encsprite-sunset encsprite $F/sunset.bmp out.asm
case_ encsprite-small  encsprite $F/small.bmp out.asm
case_ encscreen-new-file encscreen $F/small.bmp new.scn
# Usage.
for p in encscreen encsprite decscreen; do
  case_ $p-no-arguments $p
  case_ $p-one-argument $p $F/sunset.bmp
done
# Faults of the input.
for p in encscreen encsprite; do
  case_ $p-missing      $p $F/none.bmp out.scn
  case_ $p-folder       $p $F out.scn
  case_ $p-8bit         $p $F/8bit.bmp out.scn
  case_ $p-30bytes      $p $F/30bytes.bmp out.scn
  case_ $p-width12      $p $F/width12.bmp out.scn
  case_ $p-short        $p $F/short.bmp out.scn
  case_ $p-no-folder    $p $F/small.bmp no-such-folder/out.scn
done
case_ decscreen-missing   decscreen $F/none.scn out.bmp
case_ decscreen-folder    decscreen $F out.bmp
case_ decscreen-short     decscreen $F/short.scn out.bmp
case_ decscreen-10bytes   decscreen $F/10bytes.scn out.bmp
case_ decscreen-no-folder decscreen $F/small.scn no-such-folder/out.bmp

# --- PNG in and out ------------------------------------------------------------
# PNG inputs of several colour types, depths and interlacing, a cut one, and
# decscreen's PNG output, written the same by both.
"$lin/decscreen" "$fx/sunset.scn" "$fx/sunset-back.png"
pngs=(sunset-back.png)
if /usr/bin/convert -version 2>/dev/null | grep -q ImageMagick; then
  /usr/bin/convert "$fx/sunset.bmp" -interlace PNG "$fx/sunset-interlaced.png"
  /usr/bin/convert "$fx/sunset.bmp" -depth 16 "$fx/sunset-16bit.png"
  /usr/bin/convert "$fx/small.bmp" -type Palette "$fx/small-palette.png"
  /usr/bin/convert "$fx/small.bmp" -colorspace Gray "$fx/small-grey.png"
  /usr/bin/convert "$fx/small.bmp" -alpha set -channel A -evaluate set 60% "$fx/small-alpha.png"
  pngs+=(sunset-interlaced.png sunset-16bit.png small-palette.png small-grey.png small-alpha.png)
else
  echo "note: ImageMagick is not installed; PNG inputs only from decscreen"
fi
head -c 300 "$fx/sunset-back.png" >"$fx/short.png"
for f in "${pngs[@]}"; do
  case_ encscreen-$f encscreen $F/$f out.scn
  case_ encsprite-$f encsprite $F/$f out.asm
done
case_ encscreen-short.png encscreen $F/short.png out.scn
case_ encsprite-short.png encsprite $F/short.png out.asm
case_ decscreen-sunset.png decscreen $F/sunset.scn out.png
case_ decscreen-small.PNG  decscreen $F/small.scn OUT.PNG
# --- end of PNG in and out ------------------------------------------------------

# The listing really has CR LF on Windows and LF on Linux.
c=$work/cases/encsprite-small
if ! grep -q $'\r$' "$c/win/out.asm" || grep -q $'\r' "$c/lin/out.asm"; then
  failed=$((failed + 1)); echo "FAIL listing line endings"
else
  passed=$((passed + 1)); echo "ok   listing line endings"
fi
wineserver -w 2>/dev/null || true
echo "windows e2e under $(wine --version 2>/dev/null | head -1), $(( $(date +%s) - start )) s"
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
