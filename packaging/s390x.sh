#!/usr/bin/env bash
# Builds the programs for Linux on s390x, a big-endian machine, on Debian in
# one command: linked statically, so that they run under qemu-s390x, or on an
# s390x machine, with nothing beside them.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
. packaging/lib.sh

usage() {
  cat <<'EOF'
Usage: packaging/s390x.sh

Builds build-s390x/bin/encscreen, encsprite and decscreen for s390x from this
checkout. Needs Debian 12, root (or sudo) and Debian's archive on the network.

1. installs what is missing of: cmake, make, g++-s390x-linux-gnu and qemu-user
   (qemu-s390x runs the programs here);
2. where build-s390x/sysroot is not complete yet: adds the s390x architecture
   to dpkg where it is missing, downloads Debian's s390x packages of libpng
   and zlib into build-s390x/debs/ and unpacks them, without installing them,
   into build-s390x/sysroot/, which later runs keep;
3. builds the three programs into build-s390x/bin/, failing on any warning.

Run one with: qemu-s390x build-s390x/bin/encscreen picture.bmp picture.scn
EOF
}
vorne_arguments "$@"

vorne_install cmake make g++-s390x-linux-gnu qemu-user

# The static archives of libpng and zlib come from Debian's s390x packages,
# unpacked rather than installed: an s390x -dev package installed through
# multiarch must be the very version of the host's, which the archive does
# not always offer. cmake/s390x-linux-gnu.cmake finds them in the sysroot.
sysroot=$PWD/build-s390x/sysroot
fetch_sysroot() {
  if ! dpkg --print-foreign-architectures | grep -qx s390x; then
    echo "adding the s390x architecture to dpkg, for apt-get download"
    vorne_as_root dpkg --add-architecture s390x
    vorne_apt_updated=
    vorne_apt_update
  fi
  rm -rf build-s390x/debs "$sysroot" && mkdir -p build-s390x/debs
  local debs=(libpng-dev:s390x libpng16-16:s390x zlib1g-dev:s390x zlib1g:s390x)
  # apt's lists may be older than the mirror, which then lacks the files.
  (cd build-s390x/debs && { vorne_apt_fetch download "${debs[@]}" ||
    { vorne_apt_updated= && vorne_apt_update && vorne_apt download "${debs[@]}"; }; })
  local deb
  for deb in build-s390x/debs/*.deb; do dpkg -x "$deb" "$sysroot"; done
  touch "$sysroot/.complete"
}
if [ ! -f "$sysroot/.complete" ]; then
  vorne_timed "fetched the s390x libraries into build-s390x/sysroot/" fetch_sysroot
fi

build_programs() {
  cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=Release -DVORNE_S390X_SYSROOT="$sysroot"
  vorne_build build-s390x --target encscreen encsprite decscreen
}
vorne_timed "built the s390x programs into build-s390x/bin/" build_programs
