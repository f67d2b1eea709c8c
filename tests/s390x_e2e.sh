#!/usr/bin/env bash
# The programs built for s390x, a big-endian machine, run under qemu-s390x
# against the ones built here: every case runs both on the same files and the
# outputs must agree byte for byte, with the same messages and exit statuses.
# The file formats are little-endian, so this is where a byte-order slip in the
# readers, the writers or the word-at-a-time paths shows.
#
#   s390x_e2e.sh S390X_BIN_DIR NATIVE_BIN_DIR SOURCE_DIR WORK_DIR
# NATIVE_BIN_DIR must also hold makebmp, which draws the photo-like pictures.
set -u
s390x=$1 native=$2 src=$3 work=$4
fail() { echo "FAIL: $*"; exit 1; }

command -v qemu-s390x >/dev/null || { echo "SKIPPED: qemu-s390x is not installed (package qemu-user)"; exit 77; }
for p in encscreen encsprite decscreen; do
  [ -f "$s390x/$p" ] ||
    { echo "SKIPPED: $s390x/$p is missing (packaging/s390x.sh builds it)"; exit 77; }
  # ELF byte 5 is the data encoding: 2 is big-endian.
  [ "$(od -An -tu1 -j5 -N1 "$s390x/$p" | tr -d ' ')" = 2 ] || fail "$s390x/$p is not a big-endian program"
  [ -x "$native/$p" ] || fail "$native/$p is missing"
done
[ -x "$native/makebmp" ] || fail "$native/makebmp is missing"
command -v perl >/dev/null || fail "perl is needed to write the fixtures"
s390x=$(cd "$s390x" && pwd) native=$(cd "$native" && pwd)
rm -rf "$work" && mkdir -p "$work/fixtures" || fail "cannot make $work"
work=$(cd "$work" && pwd)
fx=$work/fixtures

# Fixtures: the example, the photo-like pictures the pinned-output test uses,
# the same picture top-down behind a 124-byte header, odd sizes, faults.
# bmp W H [BITS] writes a 54-byte header and, for 24 bits, pixels whose bytes
# all differ from their neighbours', so a swapped byte anywhere shows.
bmp() {
  perl -e 'my ($w, $h, $bits) = (@ARGV, 24);
           print pack("a2 V v v V V l< l< v v V V V V V V", "BM", 54 + 3 * abs($w * $h), 0, 0, 54, 40,
                      $w, $h, 1, $bits, 0, 0, 0, 0, 0, 0);
           print pack("C*", map { ($_ * 7 + int($_ / 251)) & 255 } 0 .. 3 * abs($w * $h) - 1) if $bits == 24' "$@"
}
# topdown IN OUT: the same picture with its lines in the other order, a
# negative height and a 124-byte info header, as newer writers make them.
topdown() {
  perl -e 'local $/; open my $f, "<:raw", $ARGV[0] or die; my $b = <$f>;
           my ($w, $h) = unpack("x18 l< l<", $b); my $line = 3 * $w;
           my @lines = map { substr($b, 54 + $_ * $line, $line) } 0 .. $h - 1;
           print pack("a2 V v v V V l< l< v v V V V V V V", "BM", 138 + $line * $h, 0, 0, 138, 124,
                      $w, -$h, 1, 24, 0, 0, 0, 0, 0, 0), "\0" x 84, reverse @lines' "$1" >"$2"
}
cp "$src/examples/sunset.bmp" "$fx/sunset.bmp"
"$native/makebmp" 512 512 "$fx/photo.bmp" || fail "makebmp failed"
"$native/makebmp" 1032 264 "$fx/photo-wide.bmp" || fail "makebmp failed"
topdown "$fx/photo.bmp" "$fx/photo-topdown.bmp"
# The photo in four colours by brightness, a picture encsprite keeps whole.
perl -e 'local $/; my $b = <STDIN>; my @four = ("\x1e\x14\x0a", "\x28\x28\xc8", "\x5a\xc8\x28", "\xfa\xfa\xfa");
         for (my $o = 54; $o + 3 <= length $b; $o += 3) {
           my ($bl, $g, $r) = unpack("C3", substr($b, $o, 3));
           substr($b, $o, 3) = $four[int(($r + 2 * $g + int($bl / 2)) * 4 / 893)];
         }
         print $b' <"$fx/photo.bmp" >"$fx/four.bmp"
bmp 8 8 >"$fx/8x8.bmp"
bmp 24 40 >"$fx/24x40.bmp"
bmp 264 -16 >"$fx/264x16-topdown.bmp"
bmp 16 8 8 >"$fx/8bit.bmp"
bmp 12 8 >"$fx/width12.bmp"
head -c 20000 "$fx/sunset.bmp" >"$fx/short.bmp"
head -c 30 "$fx/sunset.bmp" >"$fx/30bytes.bmp"
"$native/encscreen" "$fx/photo.bmp" "$fx/photo.scn"
"$native/encscreen" "$fx/24x40.bmp" "$fx/24x40.scn"
# The photo's screen file claiming 509 x 507: partial symbols at the edges.
perl -e 'local $/; my $b = <STDIN>; substr($b, 8, 4) = pack("v v", 509, 507); print $b' \
  <"$fx/photo.scn" >"$fx/odd.scn"
head -c 1000 "$fx/photo.scn" >"$fx/short.scn"
head -c 10 "$fx/photo.scn" >"$fx/10bytes.scn"
"$native/decscreen" "$fx/photo.scn" "$fx/photo-back.png"

passed=0 failed=0
# case_ NAME COMMAND-LINE: runs the command line with $P standing for the
# folder of the programs and $RUN for how to start one, in cases/NAME/{native,
# s390x}, where out.scn, out.bmp and out.asm already hold "old".
case_() {
  local name=$1 line=$2 side bad=
  for side in native s390x; do
    local d=$work/cases/$name/$side
    mkdir -p "$d" && printf old | tee "$d/out.scn" "$d/out.bmp" >"$d/out.asm"
    if [ $side = native ]; then P=$native RUN=; else P=$s390x RUN=qemu-s390x; fi
    (cd "$d" && F=$fx P=$P RUN=$RUN bash -c "$line" >../$side.stdout 2>../$side.stderr </dev/null
     echo $? >../$side.status)
  done
  local c=$work/cases/$name f
  for f in status stdout stderr; do
    cmp -s "$c/native.$f" "$c/s390x.$f" || bad+=" $f differs;"
  done
  diff -rq "$c/native" "$c/s390x" >"$c/diff" || bad+=" $(sed "s|$c/||g" "$c/diff" | tr '\n' ';')"
  [ -n "$bad" ] || { passed=$((passed + 1)) && echo "ok   $name (status $(cat "$c/native.status"))" && return; }
  failed=$((failed + 1))
  echo "FAIL $name:$bad"
  for side in native s390x; do
    echo "  $side: status $(cat "$c/$side.status"), said: $(cat "$c/$side.stdout" "$c/$side.stderr" | head -c 200 | tr -d '\a')"
  done
}

start=$(date +%s)
for p in sunset photo photo-wide photo-topdown four 8x8 24x40 264x16-topdown; do
  case_ encscreen-$p '$RUN $P/encscreen $F/'$p'.bmp out.scn'
  case_ encsprite-$p '$RUN $P/encsprite $F/'$p'.bmp out.asm'
done
case_ encscreen-pipe 'cat $F/photo.bmp | $RUN $P/encscreen /dev/stdin out.scn'
case_ encsprite-pipe 'cat $F/photo-topdown.bmp | $RUN $P/encsprite /dev/stdin out.asm'
for s in photo 24x40 odd; do
  case_ decscreen-$s '$RUN $P/decscreen $F/'$s'.scn out.bmp'
done
case_ decscreen-pipe 'cat $F/photo.scn | $RUN $P/decscreen /dev/stdin out.bmp'
# A whole round trip on the s390x side alone: its own screen file decoded.
case_ round-trip '$RUN $P/encscreen $F/photo-wide.bmp out.scn; $RUN $P/decscreen out.scn out.bmp'
# --perceptual computes in floating point pinned to the same bits on every
# machine (no fused multiply-adds, our own cube root, exp, atan2 and sin): the
# same bytes here, and the same failures as without it.
for p in sunset photo-wide photo-topdown four 24x40; do
  case_ encscreen-perceptual-$p '$RUN $P/encscreen --perceptual $F/'$p'.bmp out.scn'
  case_ encsprite-perceptual-$p '$RUN $P/encsprite --perceptual $F/'$p'.bmp out.asm'
done
case_ encscreen-perceptual-pipe 'cat $F/photo.bmp | $RUN $P/encscreen --perceptual /dev/stdin out.scn'
# Fitted to a screen and adjusted: integers and pinned tables.
case_ encscreen-fit-adjusted '$RUN $P/encscreen --perceptual --fit 256x192 --fit-at 0.3,0.6 --gamma 2.2 --saturation 150 --contrast -20 --brightness 10 $F/photo-wide.bmp out.scn'
case_ encscreen-perceptual-png 'cat $F/photo-back.png | $RUN $P/encscreen --perceptual /dev/stdin out.scn'
for p in encscreen encsprite; do
  case_ $p-perceptual-short '$RUN $P/'$p' --perceptual $F/short.bmp out.scn'
done
# --dither=ordered: integers, but for the pinned linear light and CIEDE2000.
for p in sunset photo-wide photo-topdown four; do
  case_ encscreen-ordered-$p '$RUN $P/encscreen --dither=ordered $F/'$p'.bmp out.scn'
  case_ encsprite-ordered-$p '$RUN $P/encsprite --dither=ordered $F/'$p'.bmp out.asm'
done
case_ encscreen-ordered-pipe 'cat $F/photo.bmp | $RUN $P/encscreen --dither=ordered /dev/stdin out.scn'
# Over threads: one, and more than the cores.
for t in 1 7; do
  case_ encscreen-perceptual-threads$t '$RUN $P/encscreen --perceptual --threads '$t' $F/photo-wide.bmp out.scn'
  case_ encscreen-ordered-threads$t '$RUN $P/encscreen --dither=ordered --threads '$t' $F/photo-wide.bmp out.scn'
done
# --dither: integer sums, each move's change in pinned double.
for p in sunset photo-wide photo-topdown four; do
  case_ encscreen-dither-$p '$RUN $P/encscreen --dither $F/'$p'.bmp out.scn'
  case_ encsprite-dither-$p '$RUN $P/encsprite --dither $F/'$p'.bmp out.asm'
done
case_ encscreen-dither-pipe 'cat $F/photo.bmp | $RUN $P/encscreen --dither /dev/stdin out.scn'
# Usage and faults: messages and statuses.
for p in encscreen encsprite decscreen; do
  case_ $p-no-arguments '$RUN $P/'$p
  case_ $p-one-argument '$RUN $P/'$p' $F/sunset.bmp'
done
for p in encscreen encsprite; do
  for f in missing 8bit width12 short 30bytes; do
    case_ $p-$f '$RUN $P/'$p' $F/'$f'.bmp out.scn'
  done
  case_ $p-no-folder '$RUN $P/'$p' $F/8x8.bmp no-such-folder/out'
done
for f in missing short 10bytes; do
  case_ decscreen-$f '$RUN $P/decscreen $F/'$f'.scn out.bmp'
done
case_ decscreen-no-folder '$RUN $P/decscreen $F/photo.scn no-such-folder/out.bmp'
# PNG in every colour type and bit depth (the fuzz seeds, written by
# ImageMagick and Pillow: 16-bit samples are stored big-endian), the photo as a
# PNG, and decscreen's PNG preview.
for f in "$src"/fuzz/corpus/fuzz_png/*.png; do
  n=png-$(basename "$f" .png)
  cp "$f" "$fx/$n.png"
  case_ encscreen-$n '$RUN $P/encscreen $F/'$n'.png out.scn'
  case_ encsprite-$n '$RUN $P/encsprite $F/'$n'.png out.asm'
done
case_ encscreen-png-photo '$RUN $P/encscreen $F/photo-back.png out.scn'
case_ decscreen-png 'cp $F/photo.scn in.scn && $RUN $P/decscreen in.scn out.png'
# The other kinds of output: raw words little-endian on a big-endian machine
# too, and C's bytes in the same order.
for k in bin c sdas; do
  case_ encscreen-format-$k '$RUN $P/encscreen --format '$k' $F/photo.bmp out.'$k
  case_ encsprite-format-$k '$RUN $P/encsprite --format '$k' --sprite 8x8 $F/24x40.bmp out.'$k
done
# Transparent pixels (an alpha channel, interlaced, a palette's tRNS): the
# mask after the attributes in every kind, little-endian like the raster,
# and the warning of a screen file, which has no room for it.
for f in im-rgba8 im-rgba8-interlaced pil-palette-trns; do
  for k in bin c sdas; do
    case_ encsprite-mask-$f-$k '$RUN $P/encsprite --format '$k' --sprite 8x8 --prefix hero $F/png-'$f'.png out.'$k
  done
  case_ encsprite-mask-$f-scn '$RUN $P/encsprite $F/png-'$f'.png out.scn'
done

echo "s390x e2e under $(qemu-s390x --version | head -1), $(($(date +%s) - start)) s"
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
