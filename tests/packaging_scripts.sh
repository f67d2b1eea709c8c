#!/usr/bin/env bash
# The release scripts of packaging/ as a user first meets them: --help (and
# -h) prints the help and does nothing else, with no root, no network and no
# file written; a wrong argument is a usage error that does nothing either.
# Then the steps of packaging/lib.sh that change the system's package sources
# or meet a mirror's 404: each change said before it is made and only where
# deb-src is missing, and a 404 that the scripts get past not shown as an
# error. apt-get, sudo and every build tool are stubs that record each call.
#   packaging_scripts.sh SOURCE_DIR WORK_DIR
set -u
src=$(cd "$1" && pwd) work=$2
fail() { echo "FAIL: $*"; exit 1; }
rm -rf "$work" && mkdir -p "$work" || fail "cannot make $work"
work=$(cd "$work" && pwd)

# stub DIR NAME BODY: a program NAME in DIR that records its call, then runs BODY.
stub() {
  mkdir -p "$1"
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n%s\n' "$2" "$work" "$3" >"$1/$2" && chmod +x "$1/$2"
}
for p in apt-get apt-cache apt dpkg dpkg-query sudo cmake cpack make emcc emconfigure emmake emcmake zip curl wget git; do
  stub "$work/refuse" "$p" 'exit 1'
done
# Everything a script may write to: a copy of the scripts, its own home and
# temporary folder. /etc/apt is only compared, never touched.
mkdir -p "$work/tree" "$work/home" "$work/tmp"
cp -r "$src/packaging" "$src/CMakeLists.txt" "$work/tree/"
snapshot() {
  find "$work/tree" "$work/home" "$work/tmp" -printf '%p %s %T@\n' | sort
  find /etc/apt -type f -exec cksum {} + 2>/dev/null | sort
}
before=$(snapshot)

scripts=0
for script in "$work"/tree/packaging/*.sh; do
  name=packaging/$(basename "$script")
  [ "$name" = packaging/lib.sh ] && continue # sourced by the others
  scripts=$((scripts + 1))
  # option, expected status, the stream that carries the usage
  for run in "--help 0 out" "-h 0 out" "--bogus 2 err"; do
    set -- $run
    rm -f "$work/calls"
    (cd "$work/home" && HOME=$work/home TMPDIR=$work/tmp PATH=$work/refuse:$PATH \
      timeout 60 bash "$script" "$1") >"$work/out" 2>"$work/err"
    status=$?
    [ $status -eq "$2" ] || fail "$name $1 exited with $status, not $2: $(cat "$work/out" "$work/err")"
    grep -qxF "Usage: $name" "$work/$3" || fail "$name $1 printed no usage on std$3: $(cat "$work/out" "$work/err")"
    [ ! -e "$work/calls" ] || fail "$name $1 ran: $(cat "$work/calls")"
    [ "$(snapshot)" = "$before" ] || fail "$name $1 changed files: $(diff <(echo "$before") <(snapshot))"
  done
  [ ! -s "$work/out" ] || fail "$name --bogus printed on standard output"
done
[ $scripts -ge 3 ] || fail "found only $scripts release scripts"

# lib.sh's deb-src step, on a folder standing for /etc/apt: Debian's own
# entries get deb-src, another archive's stay as they were, and a second run
# finds deb-src and changes nothing. sudo runs what it is given.
stub "$work/pass" sudo 'exec "$@"'
etc=$work/etc-apt
mkdir -p "$etc/sources.list.d"
printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\n' >"$etc/sources.list.d/debian.sources"
printf 'Types: deb\nURIs: https://deb.nodesource.com/node_20.x\nSuites: nodistro\nComponents: main\n' >"$etc/sources.list.d/other.sources"
echo "deb http://deb.debian.org/debian-security bookworm-security main" >"$etc/sources.list"
lib() { # shell code run with packaging/lib.sh sourced, the given PATH first
  (cd "$work/tree" && PATH=$1:$PATH VORNE_APT_ETC=$etc bash -c ". packaging/lib.sh; $2") >"$work/out" 2>&1
}
lib "$work/pass" vorne_enable_deb_src || fail "vorne_enable_deb_src failed: $(cat "$work/out")"
grep -qxF "adding deb-src to the Types of $etc/sources.list.d/debian.sources, for apt-get source" "$work/out" ||
  fail "the change to debian.sources was not said: $(cat "$work/out")"
grep -qxF "Types: deb deb-src" "$etc/sources.list.d/debian.sources" || fail "debian.sources got no deb-src"
grep -qxF "Types: deb" "$etc/sources.list.d/other.sources" || fail "another archive's entry was changed"
grep -qxF "deb-src http://deb.debian.org/debian-security bookworm-security main" "$etc/sources.list.d/vorne-src.list" ||
  fail "no deb-src entry for sources.list"
grep -qF "vorne-src.list" "$work/out" || fail "writing vorne-src.list was not said"
changed=$(cat "$etc"/sources.list "$etc"/sources.list.d/*)
lib "$work/pass" vorne_enable_deb_src || fail "vorne_enable_deb_src failed the second time"
[ ! -s "$work/out" ] && [ "$(cat "$etc"/sources.list "$etc"/sources.list.d/*)" = "$changed" ] ||
  fail "vorne_enable_deb_src changed the sources again where deb-src was there: $(cat "$work/out")"

# A fetch that fails on 404s alone says so in one line, without apt's "E:"
# lines; any other failure shows apt's output as it is. Both keep apt's status.
for case in "404 0" "other 1"; do
  set -- $case
  if [ "$1" = 404 ]; then
    # As apt-get source says it on Debian 12.
    body='echo "Err:1 http://deb.debian.org/debian-security bookworm-security/main libpng1.6 1.6.39-2 (dsc)"
echo "  404  Not Found [IP: 192.0.2.1 80]"
echo "W: Download is performed unsandboxed as root as file '"'"'libpng1.6_1.6.39-2.dsc'"'"' couldn'"'"'t be accessed by user '"'"'_apt'"'"'." >&2
echo "E: Failed to fetch http://deb.debian.org/debian-security/pool/updates/main/libp/libpng1.6/libpng1.6_1.6.39-2.dsc  404  Not Found [IP: 192.0.2.1 80]" >&2
echo "E: Failed to fetch some archives." >&2
exit 100'
  else
    body='echo "E: Unable to find a source package for libpng1.6=9" >&2; exit 100'
  fi
  stub "$work/apt-$1" apt-get "$body"
  stub "$work/apt-$1" sudo 'exec "$@"'
  lib "$work/apt-$1" 'vorne_apt_fetch source libpng1.6=1.6.39-2'
  status=$?
  [ $status -eq 100 ] || fail "vorne_apt_fetch on $1 returned $status, not apt's 100"
  if [ "$2" = 0 ]; then
    ! grep -q '^E: ' "$work/out" || fail "the expected 404 is shown as an error: $(cat "$work/out")"
    grep -q 'not on the mirror (404)' "$work/out" || fail "the 404 is not told: $(cat "$work/out")"
  else
    grep -qxF "E: Unable to find a source package for libpng1.6=9" "$work/out" ||
      fail "another failure of apt is not shown: $(cat "$work/out")"
  fi
done
echo "packaging scripts: --help of $scripts scripts changes nothing; deb-src said and added where missing; 404s told"
