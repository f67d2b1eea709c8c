#!/usr/bin/env bash
# Times the three programs on the photo-like benchmark pictures, next to
#   - cp of the same input and output files: the I/O floor, since a
#     conversion has to read its input and write its output at least once;
#   - ImageMagick re-encoding the same BMP (convert picture.bmp BMP3:copy.bmp),
#     a peer that reads and writes as much and quantizes nothing;
# and measures each program's peak memory with GNU time.
#
#   bench/run.sh [build-folder]        (default: build)
#
# Environment: BENCH_SIZES (default "1024 4096 8192"), BENCH_RUNS (timed runs
# of each command, default 10, after two warm-up runs), BENCH_DIR (the folder
# for the pictures, default a new temporary folder that is removed at the end).
# It needs hyperfine, GNU time and ImageMagick (Debian: hyperfine, time,
# imagemagick) and installs nothing itself.
set -euo pipefail

build=${1:-build}
sizes=${BENCH_SIZES:-1024 4096 8192}

# What it needs, all reported at once.
missing=()
command -v hyperfine >/dev/null || missing+=("hyperfine (Debian package hyperfine)")
{ [ -x /usr/bin/time ] && /usr/bin/time -f %M true >/dev/null 2>&1; } || missing+=("GNU time at /usr/bin/time (Debian package time)")
convert=
for c in /usr/bin/convert "$(command -v convert || true)"; do
  if [ -n "$c" ] && "$c" -version 2>/dev/null | grep -q ImageMagick; then
    convert=$c
    break
  fi
done
[ -n "$convert" ] || missing+=("ImageMagick's convert (Debian package imagemagick)")
unbuilt=()
for p in encscreen encsprite decscreen makebmp; do
  [ -x "$build/bin/$p" ] || unbuilt+=("$p")
done
[ ${#unbuilt[@]} -eq 0 ] ||
  missing+=("${unbuilt[*]} in $build/bin (build first: cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release && cmake --build $build -j2)")
if [ ${#missing[@]} -gt 0 ]; then
  echo "bench/run.sh: missing:" >&2
  printf '  %s\n' "${missing[@]}" >&2
  exit 1
fi

enc=$(realpath "$build/bin/encscreen")
spr=$(realpath "$build/bin/encsprite")
dec=$(realpath "$build/bin/decscreen")
mk=$(realpath "$build/bin/makebmp")
if [ -n "${BENCH_DIR:-}" ]; then
  dir=$BENCH_DIR
  mkdir -p "$dir"
else
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
fi

mib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
# Peak resident memory of a command in MiB; the command's own output is dropped.
# GNU time writes a line about a non-zero exit status first (encscreen's
# success), so the figure is the last line.
peak() {
  /usr/bin/time -f %M -o "$dir/peak.txt" "$@" >/dev/null 2>&1 || true
  tail -n 1 "$dir/peak.txt" | awk '{ printf "%.1f", $1 / 1024 }'
}
peak_piped() { # the input file, then the command that reads it from /dev/stdin
  local in=$1
  shift
  # A real pipe, not a redirection, which would hand over the file itself.
  # shellcheck disable=SC2002
  cat "$in" | /usr/bin/time -f %M -o "$dir/peak.txt" "$@" >/dev/null 2>&1 || true
  tail -n 1 "$dir/peak.txt" | awk '{ printf "%.1f", $1 / 1024 }'
}
# Median in seconds of the hyperfine run named $2 in CSV file $1.
median() { awk -F, -v name="$2" '$1 == name { print $4 }' "$1"; }

echo "VORNE screen tools benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2- | sed 's/^ *//'), load average $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null)"
echo "ImageMagick: $("$convert" -version | head -1 | sed 's/^Version: //')"
echo

declare -A results
for s in $sizes; do
  bmp=$dir/photo$s.bmp
  "$mk" "$s" "$s" "$bmp"
  # One run each to make the inputs and outputs that cp copies, and to check that every program succeeds.
  status=0
  "$enc" "$bmp" "$dir/photo$s.scn" || status=$?
  [ "$status" -eq 1 ] || { echo "encscreen failed on $bmp" >&2; exit 1; }
  "$spr" "$bmp" "$dir/photo$s.asm" || { echo "encsprite failed on $bmp" >&2; exit 1; }
  "$dec" "$dir/photo$s.scn" "$dir/back$s.bmp" || { echo "decscreen failed" >&2; exit 1; }
  "$convert" "$bmp" "BMP3:$dir/im$s.bmp" || { echo "convert failed on $bmp" >&2; exit 1; }

  runs=${BENCH_RUNS:-10}
  # encscreen's exit status is 1 on success, hence --ignore-failure; every
  # command was checked above.
  hyperfine -N --ignore-failure --warmup 2 --runs "$runs" --style none --export-csv "$dir/t$s.csv" \
    -n "cp bmp" "cp $bmp $dir/copy.bmp" \
    -n "cp scn" "cp $dir/photo$s.scn $dir/copy.scn" \
    -n "cp asm" "cp $dir/photo$s.asm $dir/copy.asm" \
    -n "cp back" "cp $dir/back$s.bmp $dir/copy-back.bmp" \
    -n encscreen "$enc $bmp $dir/out.scn" \
    -n encsprite "$spr $bmp $dir/out.asm" \
    -n decscreen "$dec $dir/photo$s.scn $dir/out.bmp" \
    -n convert "$convert $bmp BMP3:$dir/out-im.bmp" >/dev/null 2>"$dir/hyperfine.err" ||
    { cat "$dir/hyperfine.err" >&2; exit 1; }

  csv=$dir/t$s.csv
  bmp_size=$(stat -c %s "$bmp")
  scn_size=$(stat -c %s "$dir/photo$s.scn")
  asm_size=$(stat -c %s "$dir/photo$s.asm")
  echo "${s}x${s}: BMP $(mib "$bmp_size") MiB, screen file $(mib "$scn_size") MiB, listing $(mib "$asm_size") MiB; medians of $runs runs"
  printf '%-10s %9s %9s %8s %9s %8s %9s %9s %9s\n' program median "cp floor" "x floor" convert "x conv" "peak MiB" "pipe MiB" "bound MiB"
  convert_t=$(median "$csv" convert)
  for p in encscreen encsprite decscreen; do
    case $p in
      encscreen) floor_in="cp bmp"; floor_out="cp scn"; cmd=("$enc" "$bmp" "$dir/out.scn"); input=$bmp
        bound=$(awk -v b="$bmp_size" 'BEGIN { print 1.3 * b + 16 * 1048576 }') ;;
      encsprite) floor_in="cp bmp"; floor_out="cp asm"; cmd=("$spr" "$bmp" "$dir/out.asm"); input=$bmp
        bound=$(awk -v b="$bmp_size" 'BEGIN { print 1.3 * b + 16 * 1048576 }') ;;
      decscreen) floor_in="cp scn"; floor_out="cp back"; cmd=("$dec" "$dir/photo$s.scn" "$dir/out.bmp"); input=$dir/photo$s.scn
        bound=$(awk -v b="$scn_size" 'BEGIN { print 2 * b + 16 * 1048576 }') ;;
    esac
    t=$(median "$csv" "$p")
    floor=$(awk -v a="$(median "$csv" "$floor_in")" -v b="$(median "$csv" "$floor_out")" 'BEGIN { print a + b }')
    mem=$(peak "${cmd[@]}")
    mem_pipe=$(peak_piped "$input" "${cmd[0]}" /dev/stdin "${cmd[2]}")
    results[$p,$s]=$t
    results[$p,$s,floor]=$floor
    results[$p,$s,convert]=$convert_t
    results[$p,$s,mem]=$mem
    results[$p,$s,bound]=$(mib "$bound")
    awk -v p="$p" -v t="$t" -v f="$floor" -v c="$convert_t" -v m="$mem" -v mp="$mem_pipe" -v b="$bound" 'BEGIN {
      printf "%-10s %6.1f ms %6.1f ms %8.2f %6.0f ms %8.2f %9.1f %9.1f %9.1f\n", p, 1000 * t, 1000 * f, t / f, 1000 * c, t / c, m, mp, b / 1048576 }'
  done
  echo
done

# The targets, where the sizes they speak of were measured.
if [ -n "${results[encscreen,4096]:-}" ]; then
  echo "Targets at 4096x4096 (and 8192x8192 against it):"
  for p in encscreen encsprite decscreen; do
    awk -v p="$p" -v t="${results[$p,4096]}" -v f="${results[$p,4096,floor]}" -v c="${results[$p,4096,convert]}" \
      -v m="${results[$p,4096,mem]}" -v b="${results[$p,4096,bound]}" -v t8="${results[$p,8192]:-}" 'BEGIN {
      v = t / f;  printf "%-10s x floor %5.2f (<= 2.0) %-4s", p, v, v <= 2.0 ? "ok" : "MISS"
      v = t / c;  printf "  x convert %5.2f (<= 0.5) %-4s", v, v <= 0.5 ? "ok" : "MISS"
      printf "  peak %6.1f MiB (<= %.1f) %-4s", m, b, m <= b ? "ok" : "MISS"
      if (t8 != "") { v = t8 / t; printf "  8192/4096 %5.2f (<= 4.4) %s", v, v <= 4.4 ? "ok" : "MISS" }
      printf "\n" }'
  done
fi
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null)"
