#!/usr/bin/env bash
# Makes the Windows release, vorne-screen-tools-<version>-win64.zip, on Debian
# in one command: the three .exe files cross-built with MinGW-w64, linked
# statically (libpng and zlib included), with the README, the licence and the
# manual pages as plain text with CR LF lines.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
. packaging/lib.sh

usage() {
  cat <<'EOF'
Usage: packaging/windows-zip.sh

Makes build-mingw/vorne-screen-tools-<version>-win64.zip from this checkout.
Needs Debian 12, root (or sudo) and Debian's archive on the network; the first
run takes some minutes, later ones reuse build-mingw-deps/ and build-mingw/.

1. installs what is missing of: cmake, make, g++-mingw-w64-x86-64-posix,
   libz-mingw-w64-dev, dpkg-dev (apt-get source), groff-base and bsdextrautils
   (col), which render the manual pages as text;
2. where build-mingw-deps/ holds no libpng yet: fetches Debian's source package
   libpng1.6 (adding deb-src to Debian's entries in /etc/apt where there are
   none, and saying so) and cross-builds it into build-mingw-deps/, which
   later runs keep;
3. builds encscreen.exe, encsprite.exe and decscreen.exe into build-mingw/bin/,
   failing on any warning;
4. makes the zip with cpack in build-mingw/, removing older ones there.
EOF
}
vorne_arguments "$@"

vorne_install cmake make g++-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev groff-base bsdextrautils

# libpng, linked into the .exe files as Debian's is into the Linux programs.
# Debian ships zlib for MinGW-w64 but no libpng, so it is cross-built here from
# Debian's own source package, with the same toolchain file as the programs,
# which then finds it in build-mingw-deps/.
deps=$PWD/build-mingw-deps
build_libpng() {
  rm -rf "$deps/work"
  local src
  src=$(vorne_debian_source libpng1.6 "$deps/work")
  cmake -S "$src" -B "$deps/work/build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DZLIB_USE_STATIC_LIBS=ON
  cmake --build "$deps/work/build" -j2
  cmake --install "$deps/work/build"
  rm -rf "$deps/work"
}
if [ ! -f "$deps/lib/libpng16.a" ] || [ ! -f "$deps/include/png.h" ]; then
  vorne_timed "built libpng for MinGW-w64 into build-mingw-deps/" build_libpng
fi

build_programs() {
  cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DVORNE_BUILD_TESTS=OFF
  vorne_build build-mingw
}
vorne_timed "built the Windows programs into build-mingw/bin/" build_programs

# One zip beside the programs: the Windows test unpacks the one it finds.
rm -f build-mingw/vorne-screen-tools-*-win64.zip
(cd build-mingw && cpack -G ZIP) >build-mingw/cpack.log 2>&1 || { cat build-mingw/cpack.log >&2; exit 1; }
zip=$(cd build-mingw && ls vorne-screen-tools-*-win64.zip)
echo "made build-mingw/$zip"
