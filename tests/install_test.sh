#!/usr/bin/env bash
# Installs the programs as a user or a package would and runs the installed
# copies on the example picture; their files must match the build's own.
# The prefix mode also runs the README's install line and docs/building.md's
# uninstall line.
#   install_test.sh prefix BUILD_DIR SOURCE_DIR WORK_DIR   cmake --install into WORK_DIR
#   install_test.sh deb    BUILD_DIR SOURCE_DIR WORK_DIR   cpack -G DEB, then dpkg -x into WORK_DIR
#   install_test.sh lintian BUILD_DIR SOURCE_DIR WORK_DIR  cpack -G DEB, then Debian's lintian on it
# VERSION (the project's) must name the package and the manual pages.
set -u
mode=$1 build=$2 src=$3 work=$4
version=${VERSION:?the project version}
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work" && mkdir -p "$work" || fail "cannot make $work"
make_deb() {
  command -v dpkg-deb >/dev/null || { echo "SKIPPED: dpkg-deb is not installed"; exit 77; }
  command -v cpack >/dev/null || { echo "SKIPPED: cpack is not installed"; exit 77; }
  (cd "$build" && cpack -G DEB -B "$work/pkg") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
  debs=("$work"/pkg/*.deb)
  [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
  deb=${debs[0]}
  echo "package: $(basename "$deb")"
}
case $mode in
lintian)
  # Errors and warnings fail; the informational tags (hardening hints) do not.
  command -v lintian >/dev/null || { echo "SKIPPED: lintian is not installed"; exit 77; }
  make_deb
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
  cat "$work/lintian.log"
  ! grep -qE '^[EW]: ' "$work/lintian.log" || fail "lintian reports errors or warnings"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
  echo "lintian: no error, no warning"
  exit 0
  ;;
prefix)
  cmake --install "$build" --prefix "$work/root" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "cmake --install failed"; }
  root=$work/root
  ;;
deb)
  make_deb
  dpkg-deb -f "$deb" Package Version Architecture Depends
  [ "$(dpkg-deb -f "$deb" Package)" = vorne-screen-tools ] || fail "wrong package name"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
  grep -qF "./$(basename "$deb")" "$src/README.md" || fail "the README's install command does not name $(basename "$deb")"
  [ -n "$(dpkg-deb -f "$deb" Depends)" ] || fail "the package declares no dependencies"
  dpkg -x "$deb" "$work/root" || fail "dpkg -x failed"
  root=$work/root/usr
  ;;
*) fail "unknown mode $mode" ;;
esac

# The files where a user looks for them: the manual pages gzipped, carrying
# the project's version in their footer, the licence and the changelog (its
# newest entry the same version) where Debian keeps them.
for p in encscreen encsprite decscreen; do
  [ -x "$root/bin/$p" ] || fail "$root/bin/$p is missing"
  page=$root/share/man/man1/$p.1.gz
  gzip -dc "$page" >"$work/$p.1" 2>/dev/null || fail "$page is missing or not gzipped"
  head -1 "$work/$p.1" | grep -qF "\"vorne-screen-tools $version\"" ||
    fail "$p.1 does not name version $version: $(head -1 "$work/$p.1")"
  diff <(sed 1d "$work/$p.1") <(sed 1d "$src/man/$p.1") >/dev/null || fail "$page differs from man/$p.1"
done
doc=$root/share/doc/vorne-screen-tools
head -1 "$doc/copyright" 2>/dev/null | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "$doc/copyright is missing or not in the machine-readable format"
newest=$(gzip -dc "$doc/changelog.gz" 2>/dev/null | head -1)
[ "$newest" = "vorne-screen-tools ($version) unstable; urgency=medium" ] ||
  fail "the changelog's newest entry is not version $version: $newest"
# The folder recipes, where encscreen's page says they are.
for f in pictures.mk pictures.sh; do
  cmp -s "$doc/examples/$f" "$src/examples/$f" || fail "$doc/examples/$f is missing or differs from examples/$f"
done
if [ "$mode" = deb ]; then
  sed 's/\\-/-/g' "$work/encscreen.1" | grep -qF "${doc#"$work/root"}/examples/pictures.mk" ||
    fail "encscreen.1 does not name ${doc#"$work/root"}/examples/pictures.mk"
fi

# The installed programs convert the example exactly as the build's do.
# (encsprite the sprite sheet, of four colours: the photograph would warn.)
ref=$work/ref out=$work/out
mkdir -p "$ref" "$out"
"$build/bin/encscreen" "$src/examples/sunset.bmp" "$ref/s.scn"
"$build/bin/decscreen" "$ref/s.scn" "$ref/s.bmp"
"$build/bin/encsprite" "$src/examples/sprites.png" "$ref/s.asm"

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
expect 0 "$root/bin/encsprite" "$src/examples/sprites.png" "$out/s.asm"
for f in s.scn s.bmp s.asm; do
  cmp "$ref/$f" "$out/$f" || fail "$f from the installed program differs"
done
[ "$(stat -c %s "$out/s.scn")" -eq 15376 ] || fail "s.scn has the wrong size"

# And they still say what is wrong, with encscreen's inverted status.
"$root/bin/encscreen" "$work/none.bmp" "$out/n.scn" >"$work/stdout"
[ $? -eq 0 ] && [ "$(cat "$work/stdout")" = "bmpfile was not opened" ] || fail "encscreen's failure is not reported"

# The README's install and uninstall lines, as printed, into a home of the
# test's own, with a package made in between: cpack rewrites the build's
# install_manifest.txt with its own paths, and the uninstall must still
# remove every file it installed.
if [ "$mode" = prefix ]; then
  install_line=$(grep -m1 -xF 'cmake --install build --prefix ~/.local' "$src/README.md") ||
    fail "the README shows no cmake --install line"
  uninstall_line=$(grep -m1 '^cmake --install build .*install_manifest.txt' "$src/docs/building.md") ||
    fail "docs/building.md shows no uninstall line"
  mkdir -p "$work/user/home" && ln -s "$build" "$work/user/build"
  in_home() { (cd "$work/user" && HOME=$work/user/home bash -c "$1") >"$work/user.log" 2>&1; }
  in_home "$install_line" || { cat "$work/user.log"; fail "the README's install line failed"; }
  [ -x "$work/user/home/.local/bin/encscreen" ] || fail "the README's install line installed no encscreen"
  (cd "$build" && cpack -G TGZ -B "$work/pkg") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack failed"; }
  in_home "$uninstall_line" || { cat "$work/user.log"; fail "the README's uninstall line failed"; }
  left=$(find "$work/user/home/.local" -not -type d)
  [ -z "$left" ] || fail "the README's uninstall line left: $left"
fi
echo "$mode: installed programs work"
