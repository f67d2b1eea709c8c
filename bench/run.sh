#!/usr/bin/env bash
# Times the three programs against the I/O floor and checks their memory.
#
#   bench/run.sh [build-folder]        (default: build)
#
# For the 256x192 example (examples/sunset.bmp) and photo-like pictures of
# 4096x4096 and 8192x8192 (build/bin/makebmp), each program runs
#   - from a file:  prog picture.bmp out, against the floor
#                   cp picture.bmp copy  +  cp out copy-out;
#   - from a pipe:  cat picture.bmp | prog /dev/stdin out, against the floor
#                   cat picture.bmp > copy  +  cp out copy-out;
# since a conversion has to read its input and write its output at least
# once. hyperfine gives the median of each and the mean user and system time
# (from a pipe, cat's and the shell's are included), so that a reader sees
# whether the time goes to computing or to the kernel (page faults, copies).
# GNU time gives each program's peak resident memory, from a file and from a
# pipe. ImageMagick re-encoding the same BMP (convert picture.bmp BMP3:copy),
# a peer that reads and writes as much and quantizes nothing, is timed too
# where it is installed.
#
# Then, through pipes and under an address-space limit (prlimit --as), a
# 65528x8192 picture (1.5 GiB, drawn by makebmp straight into the pipe) must
# convert in 512 MiB with encscreen and in 1 GiB with encsprite, and a header
# claiming 65528x65528 followed by 200 KB must end with "bmpfile is
# truncated" at once in 64 MiB.
#
# Then --perceptual and both dithers through both encoders, three runs
# each on the example and on 4096x4096, on every core and on one, against
# their wall-time bounds (and beside the build before, with BENCH_BEFORE).
#
# Every target is printed with ok or MISS, and all of them again at the end.
#
# Environment: BENCH_SIZES (default "4096 8192"; the example always runs),
# BENCH_RUNS (timed runs of each command, default 10, after two warm-up
# runs), BENCH_BIG=0 to skip the address-space checks (about half a minute),
# BENCH_IM=0 to skip ImageMagick, BENCH_PERCEPTUAL=0 to skip --perceptual,
# --dither=ordered and --dither (about four minutes, twice with BENCH_BEFORE),
# BENCH_DITHER=0 to skip the section of --dither beside them (about three),
# BENCH_BEFORE (another build's bin/ folder, run beside in section 4),
# BENCH_DIR (the folder for the pictures, default a new temporary folder
# that is removed at the end). It needs
# hyperfine, GNU time and prlimit (Debian: hyperfine, time, util-linux) and
# installs nothing itself.
set -euo pipefail

build=${1:-build}
sizes=${BENCH_SIZES-4096 8192}
runs=${BENCH_RUNS:-10}
example=$(dirname "$0")/../examples/sunset.bmp

# What it needs, all reported at once.
missing=()
command -v hyperfine >/dev/null || missing+=("hyperfine (Debian package hyperfine)")
{ [ -x /usr/bin/time ] && /usr/bin/time -f %M true >/dev/null 2>&1; } || missing+=("GNU time at /usr/bin/time (Debian package time)")
command -v prlimit >/dev/null || missing+=("prlimit (Debian package util-linux)")
[ -f "$example" ] || missing+=("the example picture $example")
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
convert=
if [ "${BENCH_IM:-1}" != 0 ]; then
  for c in /usr/bin/convert "$(command -v convert || true)"; do
    if [ -n "$c" ] && "$c" -version 2>/dev/null | grep -q ImageMagick; then
      convert=$c
      break
    fi
  done
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
# Peak resident memory in MiB of a command line run by bash; the command's
# own output is dropped. GNU time writes a line about a non-zero exit status
# first (encscreen's success), so the figure is the last line.
peak() {
  /usr/bin/time -f %M -o "$dir/peak.txt" bash -c "$1" >/dev/null 2>&1 || true
  tail -n 1 "$dir/peak.txt" | awk '{ printf "%.1f", $1 / 1024 }'
}
# Field $3 (4 median, 5 user, 6 system; seconds) of the run named $2 in
# hyperfine's CSV file $1.
field() { awk -F, -v name="$2" -v f="$3" '$1 == name { print $f }' "$1"; }

# Every target's line, for the summary at the end; the last one's ok or
# MISS in $verdict.
targets=()
target() { # what, value, bound, unit
  verdict=$(awk -v v="$2" -v b="$3" 'BEGIN { print (v <= b ? "ok" : "MISS") }')
  targets+=("$(printf '%-4s %-62s %9s (<= %s%s)' "$verdict" "$1" "$2$4" "$3" "$4")")
}
# The same for a check that passes or fails: $2 is 1 when it passes.
check() {
  verdict=$([ "$2" = 1 ] && echo ok || echo MISS)
  targets+=("$(printf '%-4s %s' "$verdict" "$1")")
}

echo "VORNE screen tools benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2- | sed 's/^ *//'), load average $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null)"
[ -z "$convert" ] || echo "ImageMagick: $("$convert" -version | head -1 | sed 's/^Version: //')"
echo "medians of $runs runs; user and system are means; pipe times include cat and the shell"
echo

for s in example $sizes; do
  # 1. The picture and, from one run of each program, the outputs that the
  #    floors copy; every program must succeed on it.
  if [ "$s" = example ]; then
    label="256x192 (examples/sunset.bmp)"
    bmp=$dir/sunset.bmp
    cp "$example" "$bmp"
    pixels=$((256 * 192))
  else
    label="${s}x${s}"
    bmp=$dir/photo$s.bmp
    "$mk" "$s" "$s" "$bmp"
    pixels=$((s * s))
  fi
  scn=$dir/in.scn asm=$dir/in.asm back=$dir/in-back.bmp
  status=0
  "$enc" "$bmp" "$scn" || status=$?
  [ "$status" -eq 1 ] || { echo "encscreen failed on $bmp" >&2; exit 1; }
  "$spr" "$bmp" "$asm" || { echo "encsprite failed on $bmp" >&2; exit 1; }
  "$dec" "$scn" "$back" || { echo "decscreen failed" >&2; exit 1; }
  bmp_size=$(stat -c %s "$bmp") scn_size=$(stat -c %s "$scn") asm_size=$(stat -c %s "$asm")

  # 2. Timed side by side: from files without a shell, from pipes through
  #    one (hyperfine takes the shell's own start-up off). encscreen's exit
  #    status is 1 on success, hence --ignore-failure; every command was
  #    checked above.
  files=(-n "cp bmp" "cp $bmp $dir/copy.bmp" -n "cp scn" "cp $scn $dir/copy.scn"
    -n "cp asm" "cp $asm $dir/copy.asm" -n "cp back" "cp $back $dir/copy-back.bmp"
    -n encscreen "$enc $bmp $dir/out.scn" -n encsprite "$spr $bmp $dir/out.asm"
    -n decscreen "$dec $scn $dir/out.bmp")
  [ -z "$convert" ] || files+=(-n convert "$convert $bmp BMP3:$dir/out-im.bmp")
  hyperfine -N --ignore-failure --warmup 2 --runs "$runs" --style none --export-csv "$dir/file.csv" \
    "${files[@]}" >/dev/null 2>"$dir/hyperfine.err" || { cat "$dir/hyperfine.err" >&2; exit 1; }
  hyperfine --shell bash --ignore-failure --warmup 2 --runs "$runs" --style none --export-csv "$dir/pipe.csv" \
    -n "cat bmp" "cat $bmp > $dir/copy.bmp" -n "cat scn" "cat $scn > $dir/copy.scn" \
    -n encscreen "cat $bmp | $enc /dev/stdin $dir/out.scn" \
    -n encsprite "cat $bmp | $spr /dev/stdin $dir/out.asm" \
    -n decscreen "cat $scn | $dec /dev/stdin $dir/out.bmp" >/dev/null 2>"$dir/hyperfine.err" ||
    { cat "$dir/hyperfine.err" >&2; exit 1; }

  # 3. The table: time, where it goes, the floor, memory.
  echo "$label: BMP $(mib "$bmp_size") MiB, screen file $(mib "$scn_size") MiB, listing $(mib "$asm_size") MiB"
  printf '%-10s %-5s %9s %8s %8s %9s %7s %-4s %7s %9s %9s %-4s\n' \
    program from median user system floor "x floor" "" "x IM" "peak MiB" "bound MiB" ""
  convert_t=
  [ -z "$convert" ] || convert_t=$(field "$dir/file.csv" convert 4)
  for p in encscreen encsprite decscreen; do
    case $p in
      encscreen) in_file=$bmp out_floor="cp scn" prog=$enc out=$dir/out.scn
        bound=$((scn_size + 8 * 1048576)) ;;
      encsprite) in_file=$bmp out_floor="cp asm" prog=$spr out=$dir/out.asm
        bound=$((pixels + scn_size + 8 * 1048576)) ;;
      decscreen) in_file=$scn out_floor="cp back" prog=$dec out=$dir/out.bmp
        bound=$((scn_size + 8 * 1048576)) ;;
    esac
    [ "$p" = decscreen ] && kind=scn || kind=bmp
    for from in file pipe; do
      csv=$dir/$from.csv
      t=$(field "$csv" "$p" 4) user=$(field "$csv" "$p" 5) sys=$(field "$csv" "$p" 6)
      if [ "$from" = file ]; then
        in_floor=$(field "$csv" "cp $kind" 4)
        mem=$(peak "$prog $in_file $out")
        im=$convert_t
      else
        in_floor=$(field "$csv" "cat $kind" 4)
        mem=$(peak "cat $in_file | $prog /dev/stdin $out")
        im=
      fi
      floor=$(awk -v a="$in_floor" -v b="$(field "$dir/file.csv" "$out_floor" 4)" 'BEGIN { print a + b }')
      ratio=$(awk -v t="$t" -v f="$floor" 'BEGIN { printf "%.2f", t / f }')
      ratio_im=-
      [ -z "$im" ] || ratio_im=$(awk -v t="$t" -v c="$im" 'BEGIN { printf "%.2f", t / c }')
      bound_mib=$(mib "$bound")
      awk -v p="$p" -v from="$from" -v t="$t" -v u="$user" -v s="$sys" -v f="$floor" 'BEGIN {
        printf "%-10s %-5s %6.1f ms %5.1f ms %5.1f ms %6.1f ms", p, from, 1000 * t, 1000 * u, 1000 * s, 1000 * f }'
      target "$p $label from a $from: x floor" "$ratio" 1.0 ""
      printf ' %7s %-4s' "$ratio" "$verdict"
      target "$p $label from a $from: peak memory" "$mem" "$bound_mib" " MiB"
      printf ' %7s %9s %9s %-4s\n' "$ratio_im" "$mem" "$bound_mib" "$verdict"
    done
  done
  [ -z "$convert_t" ] || awk -v c="$convert_t" 'BEGIN { printf "ImageMagick convert: %.1f ms\n", 1000 * c }'
  echo
done

# The picture of a timed search: the example or a photo-like 4096x4096, with
# its label, warm-up runs and bound (the second or third argument).
timed_picture() { # example|4096, bound for the example, bound for 4096
  if [ "$1" = example ]; then
    label="256x192 (examples/sunset.bmp)" bmp=$dir/sunset.bmp bound=$2 warm=2
    cp "$example" "$bmp"
  else
    label="4096x4096" bmp=$dir/photo4096.bmp bound=$3 warm=0
    [ -f "$bmp" ] || "$mk" 4096 4096 "$bmp"
  fi
}

# 4. --perceptual, --dither=ordered and --dither, timed on their own (three
#    runs; not held to the copying floor), on every core (the default) and
#    with --threads 1, against their bounds: encscreen --perceptual on the
#    example in 10 ms and on 4096x4096 in 3 s, encsprite in 100 ms and 30 s;
#    with BENCH_BEFORE, encscreen --dither on 4096x4096 in a third of the
#    time the build before took on one thread. BENCH_BEFORE=folder (a
#    build's bin/ of the programs before a change) runs them beside, in the
#    same runs, with --threads 1. Peak memory from GNU time beside.
if [ "${BENCH_PERCEPTUAL:-1}" != 0 ]; then
  before=${BENCH_BEFORE:-}
  [ -z "$before" ] || before=$(realpath "$before")
  echo "--perceptual, --dither=ordered and --dither, medians of 3 runs (from a file)${before:+, beside $before}:"
  printf '%-38s %-18s %9s %9s %9s %9s %9s %-4s\n' run picture median user system "peak MiB" bound ""
  for s in example 4096; do
    if [ "$s" = example ]; then
      label="256x192" bmp=$dir/sunset.bmp warm=2
      cp "$example" "$bmp"
    else
      label="4096x4096" bmp=$dir/photo4096.bmp warm=0
      [ -f "$bmp" ] || "$mk" 4096 4096 "$bmp"
    fi
    for mode in --perceptual --dither=ordered --dither; do
      runs_=()
      for p in encscreen encsprite; do
        [ "$p" = encscreen ] && prog=$enc || prog=$spr
        runs_+=(-n "$p $mode" "$prog $mode $bmp $dir/out-$p" -n "$p $mode --threads 1" "$prog $mode --threads 1 $bmp $dir/out-$p")
        [ -z "$before" ] || runs_+=(-n "before: $p $mode" "$before/$p $mode --threads 1 $bmp $dir/out-$p")
      done
      hyperfine -N --ignore-failure --warmup "$warm" --runs 3 --style none --export-csv "$dir/perceptual.csv" \
        "${runs_[@]}" >/dev/null 2>"$dir/hyperfine.err" || { cat "$dir/hyperfine.err" >&2; exit 1; }
      for ((i = 1; i < ${#runs_[@]}; i += 3)); do
        name=${runs_[i]} cmd=${runs_[i + 1]}
        t=$(field "$dir/perceptual.csv" "$name" 4) user=$(field "$dir/perceptual.csv" "$name" 5)
        sys=$(field "$dir/perceptual.csv" "$name" 6)
        mem=$(peak "$cmd")
        bound=-
        case "$name/$label" in
          "encscreen --perceptual/256x192") bound=0.01 ;;
          "encscreen --perceptual/4096x4096") bound=3 ;;
          "encsprite --perceptual/256x192") bound=0.1 ;;
          "encsprite --perceptual/4096x4096") bound=30 ;;
          "encscreen --dither/4096x4096")
            [ -z "$before" ] || bound=$(awk -v b="$(field "$dir/perceptual.csv" "before: encscreen --dither" 4)" \
              'BEGIN { printf "%.3f", b / 3 }') ;;
        esac
        verdict=
        [ "$bound" = - ] || target "$name $label: wall time" "$(awk -v t="$t" 'BEGIN { printf "%.3f", t }')" "$bound" " s"
        awk -v n="$name" -v l="$label" -v t="$t" -v u="$user" -v s="$sys" -v m="$mem" -v b="$bound" -v v="$verdict" 'BEGIN {
          printf "%-38s %-18s %7.3f s %7.3f s %7.3f s %9s %9s %-4s\n", n, l, t, u, s, m, (b == "-" ? "-" : b " s"), v }'
      done
    done
  done
  echo
fi

# 4b. The dithers beside --perceptual in one run (three runs each, from a
#    file): --dither within 250 ms on the example and 120 s on 4096x4096,
#    --dither=ordered within twice --perceptual's time.
if [ "${BENCH_DITHER:-1}" != 0 ]; then
  echo "--dither and --dither=ordered beside --perceptual, medians of 3 runs (from a file):"
  printf '%-10s %-18s %-30s %9s %9s %9s %-4s\n' program option picture median user bound ""
  for s in example 4096; do
    timed_picture $s 0.25 120
    for p in encscreen encsprite; do
      exe=$enc out=$dir/out.scn
      [ $p = encsprite ] && exe=$spr out=$dir/out.asm
      hyperfine -N --ignore-failure --warmup "$warm" --runs 3 --style none --export-csv "$dir/dither.csv" \
        -n perceptual "$exe --perceptual $bmp $out" -n ordered "$exe --dither=ordered $bmp $out" \
        -n dither "$exe --dither $bmp $out" >/dev/null 2>"$dir/hyperfine.err" || { cat "$dir/hyperfine.err" >&2; exit 1; }
      tp=$(field "$dir/dither.csv" perceptual 4)
      for o in perceptual ordered dither; do
        t=$(field "$dir/dither.csv" $o 4) user=$(field "$dir/dither.csv" $o 5) b=-
        case $o in
        ordered) b=$(awk -v t="$tp" 'BEGIN { printf "%.3f", 2 * t }') ;;
        dither) b=$bound ;;
        esac
        verdict=
        [ "$b" = - ] || target "$p --$o $label: wall time" "$(awk -v t="$t" 'BEGIN { printf "%.3f", t }')" "$b" " s"
        awk -v p="$p" -v o="--$o" -v l="$label" -v t="$t" -v u="$user" -v b="$b" -v v="$verdict" 'BEGIN {
          printf "%-10s %-18s %-30s %7.3f s %7.3f s %7s s %-4s\n", p, o, l, t, u, b, v }'
      done
    done
  done
  echo
fi

# 5. Address-space limits, through pipes.
# Runs a pipeline whose last command is the converter under prlimit, and
# prints the converter's status, its standard error and the seconds it took.
limited() { # input command, limit in bytes, converter, output
  local start st
  start=$(date +%s.%N)
  set +e
  bash -c "$1" 2>/dev/null | prlimit --as="$2" "$3" /dev/stdin "$4" >/dev/null 2>"$dir/limited.err"
  st=${PIPESTATUS[1]}
  set -e
  echo "$st $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') $(head -c 200 "$dir/limited.err" | tr '\n' ' ')"
}
if [ "${BENCH_BIG:-1}" != 0 ]; then
  echo "Address-space limits, from pipes:"
  # 65528x8192, drawn line by line into the pipe: no 1.5 GiB file on disk.
  big_scn=$((16 + 2 * 8191 * 8192 + 4 * 8191 * 1024))
  read -r st secs err < <(limited "$mk 65528 8192 /dev/stdout" 536870912 "$enc" "$dir/big.scn")
  size=$(stat -c %s "$dir/big.scn" 2>/dev/null || echo 0)
  check "encscreen 65528x8192 from a pipe converts in 512 MiB" "$([ "$st" = 1 ] && [ "$size" = "$big_scn" ] && echo 1)"
  printf '  encscreen 65528x8192 in 512 MiB: status %s, %s s, "%s" %s\n' "$st" "$secs" "$err" "$verdict"
  rm -f "$dir/big.scn"
  # The listing would be 1.1 GB: it goes to /dev/null.
  read -r st secs err < <(limited "$mk 65528 8192 /dev/stdout" 1073741824 "$spr" /dev/null)
  check "encsprite 65528x8192 from a pipe converts in 1 GiB" "$([ "$st" = 0 ] && echo 1)"
  printf '  encsprite 65528x8192 in 1 GiB:   status %s, %s s, "%s" %s\n' "$st" "$secs" "$err" "$verdict"

  # A 54-byte header claiming 65528x65528 (12 GiB of pixels), then 200 KB.
  claim="printf 'BM\\0\\0\\0\\0\\0\\0\\0\\0\\x36\\0\\0\\0\\x28\\0\\0\\0\\xf8\\xff\\0\\0\\xf8\\xff\\0\\0\\x01\\0\\x18\\0'; head -c 24 /dev/zero; head -c 200000 /dev/zero"
  for p in encscreen encsprite; do
    [ "$p" = encscreen ] && prog=$enc want_st=0 || prog=$spr want_st=1
    rm -f "$dir/claim.out"
    read -r st secs err < <(limited "$claim" 67108864 "$prog" "$dir/claim.out")
    check "$p 65528x65528 claim of 200 KB from a pipe: truncated in 64 MiB, under 1 s" \
      "$([ "$st" = "$want_st" ] && [ "${err%% $p: *}" = "bmpfile is truncated" ] && [ ! -e "$dir/claim.out" ] &&
        awk -v s="$secs" 'BEGIN { exit !(s < 1) }' && echo 1)"
    printf '  %-9s 65528x65528 claim, 200 KB, in 64 MiB: status %s, %s s, "%s" %s\n' "$p" "$st" "$secs" "$err" "$verdict"
  done
  echo
fi

echo "Targets:"
misses=0
for t in "${targets[@]}"; do
  echo "  $t"
  [ "${t:0:4}" != MISS ] || misses=$((misses + 1))
done
echo "$misses of ${#targets[@]} missed; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null)"
