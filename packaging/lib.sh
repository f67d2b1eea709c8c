# The steps the release scripts of packaging/ share, sourced by each of them
# (and by .ci/run): installing missing Debian packages, fetching a Debian
# source package, a warning-free build, and saying how long each step took.
# Each script makes one release artifact from a fresh clone on Debian 12 and
# leaves it in a build folder of its own; it sources this file first.
# Nothing here prints unless a step runs, and nothing changes the caller's
# folder.
# shellcheck shell=bash

# vorne_arguments "$@": a script's command line, which takes no arguments but
# --help (or -h), which prints the script's usage(); anything else is a
# mistake, said with the usage and exit status 2.
vorne_arguments() {
  case ${1:-} in
    -h | --help) usage; exit 0 ;;
    "") ;;
    *) echo "unknown argument: $1" >&2; usage >&2; exit 2 ;;
  esac
}

# vorne_install PACKAGE...: installs those of the Debian packages that are not
# installed yet. apt's lists are refreshed first, once per run, since a fresh
# machine may have none; the lock timeout waits for another apt or dpkg at
# work on the same machine instead of failing.
vorne_install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qx installed || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  local started=$SECONDS
  echo "installing ${missing[*]}"
  vorne_apt_update
  vorne_apt install -y --no-install-recommends "${missing[@]}"
  echo "installed ${missing[*]} in $((SECONDS - started)) s"
}

# vorne_apt ARG...: apt-get as root, waiting up to 15 minutes for the
# package manager's lock.
vorne_apt() {
  vorne_as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"
}

# vorne_as_root COMMAND...: through sudo for anyone but root.
vorne_as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  else
    command -v sudo >/dev/null || { echo "$1 needs root: run this as root" >&2; return 1; }
    sudo "$@"
  fi
}

vorne_apt_updated=
vorne_apt_update() {
  [ -n "$vorne_apt_updated" ] && return 0
  vorne_apt update
  vorne_apt_updated=1
}

# vorne_timed WHAT COMMAND...: runs the command, then says "WHAT in N s".
vorne_timed() {
  local what=$1 started=$SECONDS
  shift
  "$@"
  echo "$what in $((SECONDS - started)) s"
}

# vorne_build BUILD_DIR [ARG...]: cmake --build BUILD_DIR -j2 ARG..., failing
# on any compiler or linker warning as well as on errors; the output stays in
# BUILD_DIR/build.log.
vorne_build() {
  local dir=$1
  shift
  cmake --build "$dir" -j2 "$@" 2>&1 | tee "$dir/build.log"
  if grep -q "warning:" "$dir/build.log"; then
    echo "the build in $dir has warnings (see $dir/build.log)" >&2
    return 1
  fi
}

# vorne_debian_source PACKAGE FOLDER: fetches Debian's source package of that
# name and unpacks it into FOLDER (apt-get source, which needs dpkg-dev);
# prints the unpacked source folder's path, apt's own output going to standard
# error.
#
# apt-get source needs deb-src entries, which a fresh Debian image lacks: they
# are then added to Debian's own entries in /etc/apt, said on standard error,
# and left there. The newest version listed may be missing from the mirror
# for a while: then the newest one that it has is taken.
vorne_debian_source() {
  local package=$1 folder=$2
  vorne_install dpkg-dev >&2
  vorne_enable_deb_src >&2
  # (Not a pipe into grep -q: under pipefail the apt-cache that grep stops
  # early dies of SIGPIPE, and lists that name the package read as lacking it.)
  if [ -z "$(apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p')" ]; then
    vorne_apt_updated=
    vorne_apt_update >&2
  fi
  mkdir -p "$folder"
  (
    cd "$folder" || exit 1
    local v
    for v in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -ruV); do
      vorne_apt_fetch source "$package=$v" >&2 && exit 0
    done
    exit 1
  ) || { echo "could not fetch Debian's source package $package" >&2; return 1; }
  find "$folder" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n1
}

# vorne_apt_fetch ARG...: vorne_apt for a fetch (apt-get source or download)
# that the mirror may answer with 404: it drops a version before the lists
# that name it are refreshed, and the callers then take an older version or
# refresh the lists and try again. apt's output is shown as it is, but for a
# failure of 404s alone, whose "E: Failed to fetch" lines would read as the
# end of the run, one line says what happened instead. The status is apt's.
vorne_apt_fetch() {
  local log status=0
  log=$(mktemp) || return 1
  vorne_apt "$@" >"$log" 2>&1 || status=$?
  if [ $status -ne 0 ] && grep -q '^E: Failed to fetch .* 404 ' "$log" &&
     ! grep '^E: ' "$log" | grep -v '^E: Failed to fetch .* 404 ' |
       grep -qvxE 'E: (Failed to fetch some (archives|files)|Unable to fetch some archives.*)\.?'; then
    echo "apt-get $*: not on the mirror (404), as happens while apt's lists and the mirror disagree; trying on"
  else
    cat "$log"
  fi
  rm -f "$log"
  return $status
}

# vorne_enable_deb_src: where no entry of /etc/apt has deb-src, adds it to
# the entries of Debian's own archive (deb.debian.org and the other debian.org
# mirrors), not to any other archive, which may have no sources. Each change
# is said before it is made. VORNE_APT_ETC names another folder than /etc/apt.
vorne_enable_deb_src() {
  local etc=${VORNE_APT_ETC:-/etc/apt} f
  if grep -Eqs '^(Types:.*deb-src|deb-src )' "$etc/sources.list" "$etc"/sources.list.d/*.list \
       "$etc"/sources.list.d/*.sources; then
    return 0
  fi
  for f in "$etc"/sources.list.d/*.sources; do
    if [ ! -f "$f" ] || ! grep -q '^URIs:.*debian\.org' "$f"; then continue; fi
    echo "adding deb-src to the Types of $f, for apt-get source"
    vorne_as_root sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
  done
  if [ -f "$etc/sources.list" ] && grep -q '^deb .*debian\.org' "$etc/sources.list"; then
    echo "writing deb-src entries for $etc/sources.list into $etc/sources.list.d/vorne-src.list"
    sed -n 's/^deb \(.*debian\.org.*\)/deb-src \1/p' "$etc/sources.list" |
      vorne_as_root tee "$etc/sources.list.d/vorne-src.list" >/dev/null
  fi
}
