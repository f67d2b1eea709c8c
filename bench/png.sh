#!/usr/bin/env bash
# PNG beside BMP: the 4096x4096 benchmark picture, written as a PNG by
# ImageMagick, through encscreen and encsprite, next to the same programs on
# the BMP and ImageMagick reading the same PNG (convert picture.png
# BMP3:copy.bmp, a peer that decodes the PNG and writes a BMP); and decscreen
# writing its PNG preview beside its BMP. Prints the medians side by side, with
# user and system time, and each program's peak memory.
#
#   bench/png.sh [build-folder]        (default: build)
#
# Environment: BENCH_SIZE (default 4096), BENCH_RUNS (timed runs of each
# command, default 10, after two warm-up runs). Needs hyperfine, GNU time,
# ImageMagick and python3 (Debian: hyperfine, time, imagemagick, python3).
set -euo pipefail

build=${1:-build}
size=${BENCH_SIZE:-4096}
runs=${BENCH_RUNS:-10}
for p in encscreen encsprite decscreen makebmp; do
  [ -x "$build/bin/$p" ] || { echo "bench/png.sh: build $build/bin/$p first" >&2; exit 1; }
done
for t in hyperfine /usr/bin/time /usr/bin/convert python3; do
  command -v "$t" >/dev/null || { echo "bench/png.sh: $t is missing" >&2; exit 1; }
done
bin=$(realpath "$build/bin")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

"$bin/makebmp" "$size" "$size" picture.bmp
/usr/bin/convert picture.bmp -define png:exclude-chunks=date,time picture.png
"$bin/encscreen" picture.bmp picture.scn || true

# name | command
cmds=(
  "encscreen BMP|$bin/encscreen picture.bmp out.scn; test \$? -eq 1"
  "encscreen PNG|$bin/encscreen picture.png out.scn; test \$? -eq 1"
  "encsprite BMP|$bin/encsprite picture.bmp out.asm"
  "encsprite PNG|$bin/encsprite picture.png out.asm"
  "ImageMagick PNG to BMP|/usr/bin/convert picture.png BMP3:copy.bmp"
  "decscreen to BMP|$bin/decscreen picture.scn out.bmp"
  "decscreen to PNG|$bin/decscreen picture.scn out.png"
  "ImageMagick BMP to PNG|/usr/bin/convert out.bmp copy.png"
)
args=()
for c in "${cmds[@]}"; do args+=(-n "${c%%|*}" "${c#*|}"); done
hyperfine --warmup 2 --runs "$runs" --export-json times.json "${args[@]}" >/dev/null

peak() { /usr/bin/time -f %M sh -c "$1" 2>&1 >/dev/null | tail -n1; }
: >peaks
for c in "${cmds[@]}"; do echo "${c%%|*}|$(peak "${c#*|}")" >>peaks; done

echo "$size x $size photo-like picture: BMP $(($(stat -c %s picture.bmp) / 1024)) KiB," \
  "PNG $(($(stat -c %s picture.png) / 1024)) KiB (ImageMagick), preview PNG $(($(stat -c %s out.png) / 1024)) KiB;" \
  "medians of $runs runs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - times.json peaks <<'PY'
import json, sys
peaks = dict(l.rstrip("\n").split("|") for l in open(sys.argv[2]))
print(f"{'command':<24} {'median':>10} {'user':>9} {'system':>9} {'peak':>10}    (user and system: means)")
for r in json.load(open(sys.argv[1]))["results"]:
    name = r["command"]
    print(f"{name:<24} {r['median']*1000:8.1f} ms {r['user']*1000:6.1f} ms {r['system']*1000:6.1f} ms"
          f" {int(peaks[name]) / 1024:6.1f} MiB")
PY
