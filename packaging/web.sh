#!/usr/bin/env bash
# Builds the browser page: the three converters compiled to WebAssembly with
# Debian's emscripten, as one module run in a Web Worker, and the page's own
# HTML, CSS and JavaScript, into build-web/site/; then zips that folder as
# build-web/vorne-screen-tools-<version>-web.zip.
#
#   packaging/web.sh
#
# Needs: emscripten (emcc), zip, and for the first run apt-get source (deb-src
# entries) with dpkg-dev, to build zlib and libpng for wasm from Debian's
# source packages. Whatever is missing is installed with apt-get (as root).
# The wasm zlib and libpng are kept in build-web-deps/ for the next runs.
#
# emscripten's own ports (-sUSE_ZLIB, -sUSE_LIBPNG) are not used: Debian's
# emscripten has a frozen cache and fetches nothing.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
. packaging/lib.sh

usage() {
  cat <<'EOF'
Usage: packaging/web.sh

Builds the browser page into build-web/site/ and zips it as
build-web/vorne-screen-tools-<version>-web.zip, from this checkout. Needs
Debian 12; the first run needs root (or sudo) and Debian's archive on the
network, and takes some minutes; later runs reuse build-web-deps/ and
compile again only what changed.

1. installs what is missing of: emscripten (emcc), zip, and dpkg-dev
   (apt-get source);
2. where build-web-deps/ holds no zlib and libpng for wasm yet: fetches
   Debian's source packages zlib and libpng1.6 (adding deb-src to Debian's
   entries in /etc/apt where there are none, and saying so first) and builds
   them with emscripten into build-web-deps/, which later runs keep;
3. compiles the converters and web/glue.cpp into one WebAssembly module,
   failing on any warning, and puts it beside the page's HTML, CSS and
   JavaScript in build-web/site/;
4. makes the zip in build-web/.
EOF
}
vorne_arguments "$@"

root=$PWD
need=()
command -v emcc >/dev/null || need+=(emscripten)
command -v zip >/dev/null || need+=(zip)
command -v dpkg-source >/dev/null || need+=(dpkg-dev)
[ ${#need[@]} -eq 0 ] || vorne_install "${need[@]}"
# emcc runs on node; nodesource's node does not look in Debian's module folder.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
version=$(sed -n 's/^project(vorne_screen_tools VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }

# --- zlib and libpng for wasm, once ---------------------------------------------
deps=$root/build-web-deps
if [ ! -f "$deps/lib/libpng16.a" ] || [ ! -f "$deps/lib/libz.a" ]; then
  started=$SECONDS
  rm -rf "$deps" && mkdir -p "$deps"
  src=$(mktemp -d)
  zlib_src=$(vorne_debian_source zlib "$src")
  libpng_src=$(vorne_debian_source libpng1.6 "$src")
  [ -n "$zlib_src" ] && [ -n "$libpng_src" ] || { echo "could not fetch zlib's and libpng's source packages" >&2; exit 1; }
  # zlib's CMake build fails on Debian's source tree; its configure works.
  (cd "$zlib_src" && emconfigure ./configure --static --prefix="$deps" && emmake make -j2 libz.a && emmake make install)
  emcmake cmake -S "$libpng_src" -B "$src/png" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_TOOLS=OFF \
    -DZLIB_LIBRARY="$deps/lib/libz.a" -DZLIB_INCLUDE_DIR="$deps/include"
  cmake --build "$src/png" -j2
  cmake --install "$src/png"
  rm -rf "$src"
  [ -f "$deps/lib/libpng16.a" ] || { echo "libpng for wasm was not built" >&2; exit 1; }
  echo "built zlib and libpng for wasm in $((SECONDS - started)) s"
fi

# --- the module ---------------------------------------------------------------------
# Every source of the programs' folders, so that what they gain later comes
# along; each main() under its program's name, called by web/glue.cpp.
started=$SECONDS
out=$root/build-web
site=$out/site
rm -rf "$site" && mkdir -p "$out/obj" "$site"
# An object is compiled again when a file it includes, the flags or this
# script changed since (emcc's dependency lists in obj/*.d).
# (A loop, not a pipeline ending in grep -q: under pipefail the loop that
# grep stops early dies of SIGPIPE, and a changed source read as up to date.)
up_to_date() { # object
  [ -f "$1" ] && [ -f "$1.d" ] && [ "$(cat "$1.flags" 2>/dev/null)" = "${flags[*]} ${define[*]}" ] &&
    [ ! packaging/web.sh -nt "$1" ] || return 1
  local f
  for f in $(sed -e 's/^[^:]*://' -e 's/\\$//' "$1.d"); do
    [ "$f" -nt "$1" ] && return 1
  done
  return 0
}
flags=(-std=c++20 -O3 -ffp-contract=off -Wall -Wextra -Wpedantic -fexceptions -I"$root" -I"$deps/include"
  -DVORNE_VERSION="\"$version\"")
objects=()
pids=()
for cpp in io/*.cpp colour/*.cpp formats/*.cpp pipeline/*.cpp encode/*.cpp cli/*.cpp encscreen/*.cpp encsprite/*.cpp \
  decscreen/*.cpp web/*.cpp; do
  o=$out/obj/$(echo "$cpp" | tr / _).o
  define=()
  case $cpp in
    */main.cpp) define=(-DVORNE_MAIN="$(dirname "$cpp")_main") ;;
    # The loss map's loop, four pairs at a time: wasm SIMD, in Chromium and
    # Firefox since 2021 and Safari since 16.4 (2023), as is the
    # OffscreenCanvas the page draws with. Only there: the converters' bytes
    # stay those of the plain build.
    colour/colour_difference.cpp) define=(-msimd128) ;;
  esac
  objects+=("$o")
  up_to_date "$o" && continue
  rm -f "$o"
  echo "${flags[*]} ${define[*]}" >"$o.flags"
  emcc "${flags[@]}" "${define[@]}" -MMD -MF "$o.d" -c "$cpp" -o "$o" 2>&1 | tee "$o.log" &
  pids+=($!)
  # Two compilers at a time: the machine has two cores.
  if [ ${#pids[@]} -ge 2 ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
done
wait
for o in "${objects[@]}"; do [ -f "$o" ] || { echo "compiling failed: ${o##*/}" >&2; exit 1; }; done
if cat "$out"/obj/*.log | grep -q "warning:"; then
  echo "the wasm build has warnings" >&2
  exit 1
fi
exports='["_vorne_run","_vorne_view","_vorne_view_loss","_vorne_view_read_picture","_vorne_view_error","_vorne_view_width","_vorne_view_height","_vorne_view_picture","_vorne_view_screen","_vorne_view_attributes","_vorne_view_loss_map","_vorne_view_free"]'
# One file, the wasm inside it: a page opened from file:// may fetch nothing.
# Memory grows to 2 GiB; past that a conversion says "not enough memory".
emcc -O3 -fexceptions "${objects[@]}" "$deps/lib/libpng16.a" "$deps/lib/libz.a" -o "$out/module.js" \
  -sMODULARIZE=1 -sEXPORT_NAME=createVorne -sENVIRONMENT=worker -sSINGLE_FILE=1 \
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=32MB -sMAXIMUM_MEMORY=2GB -sINVOKE_RUN=0 \
  -sEXPORTED_FUNCTIONS="$exports" -sEXPORTED_RUNTIME_METHODS='["FS","ccall"]' \
  --post-js web/memfs.js
# The worker's code is one function in a script the page loads: from file://
# Chromium starts no worker from a file, so the page starts it from a Blob
# of this function's text.
{
  echo "// The converters' module and the worker around it; built by packaging/web.sh."
  echo "function vorneWorker() {"
  cat "$out/module.js"
  cat web/worker.js
  echo "}"
} >"$site/worker.js"
cp web/index.html web/page.css web/page.js "$site/"
echo "built the page in $((SECONDS - started)) s: $site"
du -b "$site"/* | sed 's/^/  /'
echo "  gzipped, all of it: $(cat "$site"/* | gzip -9 | wc -c) bytes"

# --- the release zip ----------------------------------------------------------------
zip_name=vorne-screen-tools-$version-web
rm -rf "$out/$zip_name" "$out/$zip_name.zip"
cp -r "$site" "$out/$zip_name"
cp LICENSE "$out/$zip_name/LICENSE.txt"
(cd "$out" && zip -qrX "$zip_name.zip" "$zip_name")
rm -rf "$out/$zip_name"
echo "made $out/$zip_name.zip"
