#!/usr/bin/env bash
# The manual pages render without a single groff warning, and each names every
# message its program can print, so a message added to a program without a
# word in its page fails here.
#   man_pages.sh SOURCE_DIR
set -u
src=$1
if command -v groff >/dev/null; then
  render() { groff -ww -man -z "$1"; }
elif command -v man >/dev/null; then
  render() { man --warnings -l "$1" >/dev/null; }
else
  echo "SKIPPED: neither groff nor man is installed"
  exit 77
fi

# The messages as they stand in the sources, without their line feed and bell.
messages() {
  grep -ohE '"[^"]*\\n(\\a)?"' "$@" | sed -e 's/^"//' -e 's/\\a"$//' -e 's/"$//' -e 's/\\n$//' | grep -v '^$'
}

failed=0 checked=0
for prog in encscreen encsprite decscreen; do
  page=$src/man/$prog.1
  warnings=$(render "$page" 2>&1 >/dev/null)
  status=$?
  if [ $status -ne 0 ] || [ -n "$warnings" ]; then
    echo "FAIL: $prog.1 does not render cleanly (status $status):"
    echo "$warnings"
    failed=$((failed + 1))
  fi
  sources=("$src/$prog/main.cpp")
  [ $prog = decscreen ] || sources+=("$src/common/picture.cpp")
  sources+=("$src/cli/cli.cpp")
  while IFS= read -r m; do
    checked=$((checked + 1))
    if ! grep -qF -- "\"$m\"" "$page"; then
      echo "FAIL: $prog.1 does not list the message \"$m\""
      failed=$((failed + 1))
    fi
  done < <(messages "${sources[@]}")
done
[ $checked -ge 20 ] || { echo "FAIL: found only $checked messages in the sources"; exit 1; }
echo "man pages: $checked messages listed, $failed faults"
[ $failed -eq 0 ]
