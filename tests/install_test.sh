#!/usr/bin/env bash
# Installs the programs as a user or a package would and runs the installed
# copies on the example picture; their files must match the build's own.
#   install_test.sh prefix BUILD_DIR SOURCE_DIR WORK_DIR   cmake --install into WORK_DIR
#   install_test.sh deb    BUILD_DIR SOURCE_DIR WORK_DIR   cpack -G DEB, then dpkg -x into WORK_DIR
set -u
mode=$1 build=$2 src=$3 work=$4
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work" && mkdir -p "$work" || fail "cannot make $work"
case $mode in
prefix)
  cmake --install "$build" --prefix "$work/root" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "cmake --install failed"; }
  root=$work/root
  ;;
deb)
  command -v dpkg-deb >/dev/null || { echo "SKIPPED: dpkg-deb is not installed"; exit 77; }
  command -v cpack >/dev/null || { echo "SKIPPED: cpack is not installed"; exit 77; }
  (cd "$build" && cpack -G DEB -B "$work/pkg") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
  debs=("$work"/pkg/*.deb)
  [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
  deb=${debs[0]}
  echo "package: $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Architecture Depends
  [ "$(dpkg-deb -f "$deb" Package)" = vorne-screen-tools ] || fail "wrong package name"
  [ -n "$(dpkg-deb -f "$deb" Depends)" ] || fail "the package declares no dependencies"
  dpkg -x "$deb" "$work/root" || fail "dpkg -x failed"
  root=$work/root/usr
  ;;
*) fail "unknown mode $mode" ;;
esac

# The files where a user looks for them.
for p in encscreen encsprite decscreen; do
  [ -x "$root/bin/$p" ] || fail "$root/bin/$p is missing"
  cmp -s "$root/share/man/man1/$p.1" "$src/man/$p.1" || fail "$root/share/man/man1/$p.1 is missing or differs"
done

# The installed programs convert the example exactly as the build's do.
ref=$work/ref out=$work/out
mkdir -p "$ref" "$out"
"$build/bin/encscreen" "$src/examples/sunset.bmp" "$ref/s.scn"
"$build/bin/decscreen" "$ref/s.scn" "$ref/s.bmp"
"$build/bin/encsprite" "$src/examples/sunset.bmp" "$ref/s.asm"

expect() { # expected-status command...
  local want=$1
  shift
  "$@" >"$work/stdout" 2>"$work/stderr"
  local got=$?
  [ $got -eq "$want" ] || fail "$* exited with $got, not $want"
  [ ! -s "$work/stdout" ] && [ ! -s "$work/stderr" ] || fail "$* printed: $(cat "$work/stdout" "$work/stderr")"
}
expect 1 "$root/bin/encscreen" "$src/examples/sunset.bmp" "$out/s.scn"
expect 0 "$root/bin/decscreen" "$out/s.scn" "$out/s.bmp"
expect 0 "$root/bin/encsprite" "$src/examples/sunset.bmp" "$out/s.asm"
for f in s.scn s.bmp s.asm; do
  cmp "$ref/$f" "$out/$f" || fail "$f from the installed program differs"
done
[ "$(stat -c %s "$out/s.scn")" -eq 15376 ] || fail "s.scn has the wrong size"

# And they still say what is wrong, with encscreen's inverted status.
"$root/bin/encscreen" "$work/none.bmp" "$out/n.scn" >"$work/stdout"
[ $? -eq 0 ] && [ "$(cat "$work/stdout")" = "bmpfile was not opened" ] || fail "encscreen's failure is not reported"
echo "$mode: installed programs work"
