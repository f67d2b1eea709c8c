#!/usr/bin/env bash
# The Windows programs, run under wine, against the Linux ones: every case
# runs both on the same files, in folders of their own, and compares.
#   - screen files and BMPs byte for byte;
#   - the sprite listing with CR LF line endings (the text-mode stream adds
#     the CR there), otherwise the same bytes;
#   - messages on the same stream with CR LF line endings (stdout and stderr
#     are text-mode streams too), and the same exit statuses;
#   - an output the program did not write left as it was;
#   - data on standard output ("-") byte for byte, the listing with CR LF;
#   - file names outside any one code page (日本.bmp, café 2.bmp) in and out.
#
#   windows_e2e.sh WINDOWS_BIN_DIR LINUX_BIN_DIR SOURCE_DIR WORK_DIR
# WINEPREFIX defaults to WORK_DIR/wineprefix; the first run creates it.
set -u
win=$1 lin=$2 src=$3 work=$4

command -v wine >/dev/null || { echo "SKIPPED: wine is not installed"; exit 77; }

# --- The Windows release -------------------------------------------------------
# What a Windows user gets is the zip that `cpack -G ZIP` makes in the MinGW
# build folder (above WINDOWS_BIN_DIR), so when it is there the cases below run
# the programs unpacked from it. It must hold exactly the programs, README,
# licence and manual pages, the text in CR LF lines, and be no older than the
# programs it was made from. VERSION, when set, must name it.
zips=("$win"/../vorne-screen-tools-${VERSION:-*}-win64.zip)
if [ -f "${zips[0]}" ]; then
  zip=$(cd "$(dirname "${zips[0]}")" && pwd)/$(basename "${zips[0]}")
  name=$(basename "$zip" .zip)
  [ ${#zips[@]} -eq 1 ] || { echo "FAIL: several zips beside $win: ${zips[*]}"; exit 1; }
  for p in encscreen encsprite decscreen; do
    [ ! "$win/$p.exe" -nt "$zip" ] ||
      { echo "FAIL: $name.zip is older than $p.exe: run cpack -G ZIP in the MinGW build folder"; exit 1; }
  done
  rm -rf "$work/zip" && mkdir -p "$work/zip" && (cd "$work/zip" && cmake -E tar xf "$zip") ||
    { echo "FAIL: cannot unpack $zip"; exit 1; }
  files=$(cd "$work/zip" && find . -type f | sort | tr '\n' ' ')
  want=""
  for f in LICENSE.txt README.txt decscreen.exe decscreen.txt encscreen.exe encscreen.txt encsprite.exe encsprite.txt; do
    want+="./$name/$f "
  done
  [ "$files" = "$want" ] || { echo "FAIL: $name.zip holds $files, not $want"; exit 1; }
  for f in "$work/zip/$name"/*.txt; do
    perl -ne 'exit 1 unless /\r\n\z/' "$f" || { echo "FAIL: $(basename "$f") has lines without CR LF"; exit 1; }
  done
  grep -q "^vorne-screen-tools ${VERSION:-}" "$work/zip/$name/encscreen.txt" ||
    { echo "FAIL: encscreen.txt does not carry the version in its footer"; exit 1; }
  grep -qF "\`$name.zip\`" "$src/README.md" || { echo "FAIL: the README does not name $name.zip"; exit 1; }
  echo "ok   $name.zip: $(echo $files | wc -w) files; the cases run the programs unpacked from it"
  win=$work/zip/$name
else
  echo "note: no vorne-screen-tools-*-win64.zip beside $win (cpack -G ZIP makes it); the cases run $win"
fi
# --- end of the Windows release ------------------------------------------------
for p in encscreen encsprite decscreen; do
  [ -f "$win/$p.exe" ] || { echo "SKIPPED: $win/$p.exe is missing (packaging/windows-zip.sh builds it)"; exit 77; }
  [ -x "$lin/$p" ] || { echo "FAIL: $lin/$p is missing"; exit 1; }
done
command -v perl >/dev/null || { echo "FAIL: perl is needed to compare line endings"; exit 1; }
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$work/wineprefix}
# Wine turns the command line into UTF-16 by the locale: it must be UTF-8 for
# the names below to arrive whole.
export LC_ALL=C.UTF-8
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
# Names that no single Windows code page holds, and a space.
cp "$fx/small.bmp" "$fx/日本.bmp"
cp "$fx/sunset.bmp" "$fx/café 2.bmp"
cp "$fx/small.scn" "$fx/日本.scn"

crlf() { perl -pe 's/\n/\r\n/g' "$1"; }
# A diagnostic line ends in the system's reason, in the words each system
# gives: only its "PROG: NAME:" part is compared.
reasonless() { perl -pe 's/^((?:encscreen|encsprite|decscreen): .*?): (?:No such|Is a|Permission|No space|Bad file|Not a|Invalid|Broken).*?(\r?\n)$/$1: (reason)$2/' "$1"; }

passed=0 failed=0 flaky=""
# case NAME PROGRAM ARGS... ; runs in cases/NAME/{lin,win}, where out.* already
# holds "old" and ../../../fixtures/ holds the fixtures. STDIN=file feeds
# standard input; RAW_STDOUT=1 compares standard output byte for byte (binary
# data there), otherwise as text with CR LF on Windows.
#
# A case that fails runs once more from the same files. Wine shares the
# machine with the rest of the suite, and a failure seen once in a hundred
# runs, on a loaded machine, could not be told from a fault of the program:
# the details of both runs are printed, and a case that passes the second
# time is named again at the end, so that it is seen but does not fail.
case_() {
  local name=$1 c=$work/cases/$1 first
  mkdir -p "$c"
  rm -rf "$c.before" && cp -a "$c" "$c.before"
  case_run "$@" && { rm -rf "$c.before"; return; }
  first=$bad
  case_details "$c" >"$c.first"
  rm -rf "$c" && mv "$c.before" "$c"
  if case_run "$@"; then
    flaky+="  $name, whose first run had:$first"$'\n'"$(cat "$c.first")"$'\n'
    echo "     $name passed at the second run; the first had:$first"
    cat "$c.first"
  else
    failed=$((failed + 1))
    echo "FAIL $name, twice:$first / $bad"
    cat "$c.first"
    echo "  the second run:"
    case_details "$c"
  fi
}

# case_details CASE_DIR: both sides' statuses and outputs, and how standard
# error differs, line by line.
case_details() {
  local c=$1 s
  for s in lin win; do
    echo "  $s: status $(cat "$c/$s.status"), $(wc -c <"$c/$s.stdout") bytes on stdout, stderr:"
    od -c "$c/$s.stderr" | head -8 | sed 's/^/    /'
  done
  echo "  stderr, Linux's with CR LF against Windows':"
  diff <(crlf "$c/lin.stderr" | reasonless /dev/stdin) <(reasonless "$c/win.stderr") | head -20 | cat -A | sed 's/^/    /'
}

# case_run NAME PROGRAM ARGS...: one run of both sides and the comparison;
# fails with the differences in $bad.
case_run() {
  local name=$1 prog=$2 side input=${STDIN:-/dev/null}
  bad=
  shift 2
  for side in lin win; do
    local d=$work/cases/$name/$side
    mkdir -p "$d"
    printf old >"$d/out.scn"; printf old >"$d/out.bmp"; printf old >"$d/out.asm"
    if [ $side = lin ]; then
      (cd "$d" && "$lin/$prog" "$@" >../$side.stdout 2>../$side.stderr <"$input"; echo $? >../$side.status)
    else
      (cd "$d" && wine "$win/$prog.exe" "$@" >../$side.stdout 2>../$side.stderr <"$input"; echo $? >../$side.status)
    fi
  done
  local c=$work/cases/$name
  cmp -s "$c/lin.status" "$c/win.status" || bad+=" status $(cat "$c/lin.status") vs $(cat "$c/win.status");"
  if [ -n "${RAW_STDOUT:-}" ]; then
    cmp -s "$c/lin.stdout" "$c/win.stdout" || bad+=" standard output differs;"
  else
    crlf "$c/lin.stdout" | cmp -s - "$c/win.stdout" || bad+=" standard output differs;"
  fi
  crlf "$c/lin.stderr" | reasonless /dev/stdin | cmp -s - <(reasonless "$c/win.stderr") || bad+=" standard error differs;"
  local f
  for f in "$c"/lin/*; do
    f=$(basename "$f")
    [ -f "$c/win/$f" ] || { bad+=" no $f;"; continue; }
    if [[ ${f##*.} =~ ^(asm|c|h|s)$ ]] && [ "$(cat "$c/lin/$f")" != old ]; then
      crlf "$c/lin/$f" | cmp -s - "$c/win/$f" || bad+=" $f is not the source with CR LF;"
    else
      cmp -s "$c/lin/$f" "$c/win/$f" || bad+=" $f differs;"
    fi
  done
  [ "$(ls "$c/lin" | wc -l)" -eq "$(ls "$c/win" | wc -l)" ] || bad+=" different files written;"
  if [ -z "$bad" ]; then
    passed=$((passed + 1))
    echo "ok   $name (status $(cat "$c/win.status"))"
    return 0
  fi
  return 1
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
case_ encscreen-small  encscreen $F/small.bmp out.scn
case_ decscreen-sunset decscreen $F/sunset.scn out.bmp
case_ decscreen-small  decscreen $F/small.scn out.bmp
case_ encsprite-sunset encsprite $F/sunset.bmp out.asm
case_ encsprite-small  encsprite $F/small.bmp out.asm
case_ encscreen-fit-adjusted encscreen --perceptual --fit 256x192 --letterbox --fit-at 0.3,0.6 --gamma 2.2 --saturation 150 --contrast -20 --brightness 10 $F/sunset.bmp out.scn
case_ encscreen-new-file encscreen $F/small.bmp new.scn
# File names outside the code page, in and out.
case_ encscreen-unicode encscreen $F/日本.bmp 日本.scn
case_ encsprite-unicode encsprite "$F/café 2.bmp" "café 2.asm"
case_ decscreen-unicode decscreen $F/日本.scn "café 2.bmp"
# Standard streams: "-" in and out, messages on standard error then.
STDIN=$fx/small.bmp RAW_STDOUT=1 case_ encscreen-stdio encscreen - -
STDIN=$fx/small.scn RAW_STDOUT=1 case_ decscreen-stdio decscreen - -
STDIN=$fx/small.bmp case_ encsprite-stdio encsprite - -
STDIN=$fx/sunset.bmp case_ encscreen-stdin encscreen - out.scn
case_ encscreen-stdout-missing encscreen $F/none.bmp -
case_ decscreen-stdout-missing decscreen $F/none.scn -
# Usage: exactly two names, or --help, -h or --version alone.
for p in encscreen encsprite decscreen; do
  case_ $p-no-arguments $p
  case_ $p-one-argument $p $F/sunset.bmp
  case_ $p-three-arguments $p $F/small.bmp out.scn out.bmp
  case_ $p-help $p --help
  case_ $p-h $p -h
  case_ $p-version $p --version
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
# --perceptual computes in floating point pinned to the same bits on every
# machine: the same screen files and listings as on Linux, and the same
# failures as without it.
for f in sunset small; do
  case_ encscreen-perceptual-$f encscreen --perceptual $F/$f.bmp out.scn
  case_ encsprite-perceptual-$f encsprite --perceptual $F/$f.bmp out.asm
done
STDIN=$fx/sunset.bmp case_ encscreen-perceptual-stdin encscreen --perceptual - out.scn
for f in sunset small; do
  case_ encscreen-ordered-$f encscreen --dither=ordered $F/$f.bmp out.scn
  case_ encsprite-ordered-$f encsprite --dither=ordered $F/$f.bmp out.asm
done
STDIN=$fx/sunset.bmp case_ encscreen-ordered-stdin encscreen --dither=ordered - out.scn
# On Windows's threads as on Linux's: one, and more than the cores.
for t in 1 7; do
  case_ encscreen-perceptual-threads$t encscreen --perceptual --threads $t $F/sunset.bmp out.scn
  case_ encscreen-ordered-threads$t encscreen --dither=ordered --threads $t $F/sunset.bmp out.scn
  case_ encsprite-ordered-threads$t encsprite --dither=ordered --threads $t $F/sunset.bmp out.asm
done
for f in sunset small; do
  case_ encscreen-dither-$f encscreen --dither $F/$f.bmp out.scn
  case_ encsprite-dither-$f encsprite --dither $F/$f.bmp out.asm
done
STDIN=$fx/sunset.bmp case_ encscreen-dither-stdin encscreen --dither - out.scn
for p in encscreen encsprite; do
  case_ $p-perceptual-short     $p --perceptual $F/short.bmp out.scn
  case_ $p-perceptual-no-folder $p --perceptual $F/small.bmp no-such-folder/out.scn
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
# Broken zlib streams, however the IDAT chunks split them, and bombs.
for f in "$src"/fuzz/regressions/fuzz_png/*.png; do
  cp "$f" "$fx/"
  case_ encscreen-$(basename "$f") encscreen $F/$(basename "$f") out.scn
  case_ encsprite-$(basename "$f") encsprite $F/$(basename "$f") out.asm
done
for p in encscreen encsprite; do
  case_ $p-empty-name $p $F/small.bmp ""
done
case_ decscreen-empty-name decscreen $F/small.scn ""
# The command line: options, the guard, the diagnostics of each kind.
cp "$fx/small.bmp" "$fx/guarded.bmp"
printf '\xff\xd8\xff\xe0JFIF' >"$fx/photo.png"
"$lin/encscreen" "$fx/small.bmp" "$fx/small-padded-source.scn" >/dev/null
head -c 200 "$fx/small-padded-source.scn" >"$fx/cut.scn"
case_ encscreen-unknown-option encscreen --bogus $F/small.bmp out.scn
case_ encsprite-prefix encsprite --prefix hero $F/small.bmp out.asm
case_ encsprite-bad-prefix encsprite --prefix 9 $F/small.bmp out.asm
case_ encsprite-screen-file encsprite $F/small.bmp sprites.scn
# The other kinds of output: the text kinds with CR LF, the raw bytes as they are.
case_ encsprite-c-sprites encsprite --sprite 8x8 --prefix hero $F/small.bmp out.c
case_ encsprite-c-header encsprite --sprite 8x8 $F/small.bmp out.h
case_ encsprite-sdas encsprite --format sdas $F/small.bmp out.s
case_ encsprite-bin encsprite --format bin --sprite 8x8 $F/small.bmp out.bin
case_ encscreen-bin encscreen --format bin $F/sunset.bmp out.bin
case_ encscreen-c encscreen --format c --prefix title $F/small.bmp out.c
case_ encsprite-bad-format encsprite --format hex $F/small.bmp out.asm
# Transparent pixels (an alpha channel, a palette's tRNS): the mask after the
# attributes in every kind, and the warning of a screen file, which has no
# room for it.
cp "$src/fuzz/corpus/fuzz_png/im-rgba8.png" "$fx/alpha.png"
cp "$src/fuzz/corpus/fuzz_png/pil-palette-trns.png" "$fx/trns.png"
for f in alpha trns; do
  for k in asm c sdas bin; do
    # Source text is compared as text with CR LF: sdas as .s.
    case_ encsprite-mask-$f-$k encsprite --format $k --sprite 8x8 --prefix hero $F/$f.png out.${k/sdas/s}
  done
  case_ encsprite-mask-$f-h encsprite --sprite 8x8 --prefix hero $F/$f.png out.h
  case_ encsprite-mask-$f-scn encsprite $F/$f.png out.scn
done
case_ encscreen-perceptual-pad encscreen --perceptual --pad $F/width12.bmp out.scn
case_ encscreen-guard encscreen $F/small.bmp $F/guarded.bmp
case_ encscreen-force-copy encscreen --force $F/small.bmp out.bmp
case_ decscreen-guard decscreen $F/small.scn $F/small.scn
case_ encscreen-jpeg encscreen $F/photo.png out.scn
# The output is never the input, by any name, --force or not; the guard keeps
# every header the reader takes; decscreen replaces only its own previews; a
# PNG's size is told like a BMP's.
# prepare NAME FILE...: copies of FILE in both of the case's folders.
prepare() {
  local name=$1 side
  shift
  for side in lin win; do mkdir -p "$work/cases/$name/$side" && cp "$@" "$work/cases/$name/$side/"; done
}
for side in lin win; do
  mkdir -p "$work/cases/encscreen-input-hard-link/$side"
  printf old >"$work/cases/encscreen-input-hard-link/$side/out.bmp"
  ln "$work/cases/encscreen-input-hard-link/$side/out.bmp" "$work/cases/encscreen-input-hard-link/$side/hard.bmp"
done
case_ encscreen-input-same-name encscreen --force out.bmp out.bmp
case_ encscreen-input-spelling encscreen --force out.bmp ./out.bmp
case_ encscreen-input-hard-link encscreen out.bmp hard.bmp
case_ decscreen-input-spelling decscreen --force out.scn ./out.scn
cp "$fx/small.bmp" "$fx/os2-ba.bmp"
perl -e 'open F, "+<", $ARGV[0] or die; binmode F; print F "BA"; seek F, 14, 0; print F pack("V", 64)' "$fx/os2-ba.bmp"
prepare encscreen-guard-os2-ba "$fx/os2-ba.bmp"
case_ encscreen-guard-os2-ba encscreen $F/small.bmp os2-ba.bmp
case_ encscreen-reads-os2-ba encscreen $F/os2-ba.bmp out.scn
"$lin/decscreen" "$fx/small.scn" "$fx/own.png"
"$lin/decscreen" "$fx/small.scn" "$fx/own.bmp"
prepare decscreen-own-png "$fx/own.png"
case_ decscreen-own-png decscreen $F/sunset.scn own.png
prepare decscreen-own-bmp "$fx/own.bmp"
case_ decscreen-own-bmp decscreen $F/sunset.scn own.bmp
prepare decscreen-user-bmp "$fx/small.bmp"
case_ decscreen-user-bmp decscreen $F/sunset.scn small.bmp
perl -e 'print "\x89PNG\r\n\x1a\n", pack("N a4 N N C5 N", 13, "IHDR", 250, 190, 8, 2, 0, 0, 0, 0)' >"$fx/odd.png"
case_ encscreen-odd.png encscreen $F/odd.png out.scn
case_ encsprite-odd.png encsprite $F/odd.png out.asm
case_ decscreen-cut decscreen $F/cut.scn out.bmp
case_ encscreen-double-dash encscreen -- $F/small.bmp -x.scn
case_ encscreen-short.png encscreen $F/short.png out.scn
case_ encsprite-short.png encsprite $F/short.png out.asm
case_ decscreen-sunset.png decscreen $F/sunset.scn out.png
case_ decscreen-small.PNG  decscreen $F/small.scn OUT.PNG
# --- end of PNG in and out ------------------------------------------------------

# Names: an output named for another format, refused without --force; names
# the wrong way round; a name with escape sequences, shown quoted.
case_ encscreen-named-png encscreen $F/small.bmp out.png
case_ encscreen-named-png-force encscreen --force $F/small.bmp out.png
case_ encsprite-named-jpg encsprite $F/small.bmp OUT.JPG
case_ decscreen-named-tiff decscreen $F/small.scn out.TIFF
case_ decscreen-named-webp-force decscreen --force $F/small.scn out.webp
case_ encscreen-swapped encscreen $F/small.scn out.png
case_ decscreen-swapped decscreen $F/small.bmp out.scn
for p in encscreen encsprite decscreen; do
  case_ $p-escapes $p $'evil\e]2;title\a\e[2J.bmp' out.scn
  case_ $p-escapes-out $p $F/none $'no\e[2J/out.scn'
done
STDIN=/dev/null case_ decscreen-stdin-empty decscreen - out.bmp

# --help and --version that cannot be written fail, as on Linux.
for p in encscreen encsprite decscreen; do
  for flag in --help --version; do
    d=$work/cases/$p$flag-full && mkdir -p "$d"
    "$lin/$p" $flag >/dev/full 2>"$d/lin.stderr"; ls=$?
    wine "$win/$p.exe" $flag >/dev/full 2>"$d/win.stderr" </dev/null; ws=$?
    if [ $ls = $ws ] && [ $ls != "$("$lin/$p" $flag >/dev/null; echo $?)" ] &&
       crlf "$d/lin.stderr" | reasonless /dev/stdin | cmp -s - <(reasonless "$d/win.stderr"); then
      passed=$((passed + 1)); echo "ok   $p $flag >/dev/full (status $ws)"
    else
      failed=$((failed + 1)); echo "FAIL $p $flag >/dev/full: status $ls vs $ws"; cat "$d/lin.stderr" "$d/win.stderr"
    fi
  done
done
# The listing really has CR LF on Windows and LF on Linux.
c=$work/cases/encsprite-small
if ! grep -q $'\r$' "$c/win/out.asm" || grep -q $'\r' "$c/lin/out.asm"; then
  failed=$((failed + 1)); echo "FAIL listing line endings"
else
  passed=$((passed + 1)); echo "ok   listing line endings"
fi
# Both sides failing alike would pass above: the names really arrived, and
# the data really went to standard output.
for f in "encscreen-unicode/win/日本.scn" "encsprite-unicode/win/café 2.asm" "decscreen-unicode/win/café 2.bmp"; do
  if [ -s "$work/cases/$f" ] && [ "$(cat "$work/cases/${f%%/*}/win.status")" = "$(cat "$work/cases/${f%%/*}/lin.status")" ] &&
     [ "$(cat "$work/cases/$f")" != old ]; then
    passed=$((passed + 1)); echo "ok   wrote $f"
  else
    failed=$((failed + 1)); echo "FAIL $f was not written"
  fi
done
if cmp -s "$work/cases/encscreen-stdio/win.stdout" "$fx/small.scn"; then
  passed=$((passed + 1)); echo "ok   screen file on standard output"
else
  failed=$((failed + 1)); echo "FAIL the screen file on standard output is not small.scn"
fi
wineserver -w 2>/dev/null || true
echo "windows e2e under $(wine --version 2>/dev/null | head -1), $(( $(date +%s) - start )) s"
[ -z "$flaky" ] || printf 'passed at the second run only:\n%s' "$flaky"
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
