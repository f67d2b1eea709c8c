#!/usr/bin/env bash
# The folders are layers: a file includes only from its own folder and from
# the layers below it, so that includes run one way and no circle can form.
#   programs (encscreen, encsprite, decscreen, web) -> cli -> encode
#   -> pipeline -> formats -> colour -> io
# Prints each include that runs the other way and fails if there is one.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
rank() {
  case "$1" in
    io) echo 0 ;; colour) echo 1 ;; formats) echo 2 ;; pipeline) echo 3 ;;
    encode) echo 4 ;; cli) echo 5 ;; encscreen | encsprite | decscreen | web) echo 6 ;;
    *) echo -1 ;;
  esac
}
bad=0
checked=0
for f in io/* colour/* formats/* pipeline/* encode/* cli/* encscreen/* encsprite/* decscreen/* web/*.cpp web/*.hpp; do
  [ -f "$f" ] || continue
  case "$f" in *.cpp | *.hpp) ;; *) continue ;; esac
  from=${f%%/*}
  r=$(rank "$from")
  while IFS= read -r inc; do
    to=${inc%%/*}
    t=$(rank "$to")
    checked=$((checked + 1))
    if [ "$t" -lt 0 ] || [ "$t" -gt "$r" ] || { [ "$t" -eq "$r" ] && [ "$r" -eq 6 ] && [ "$to" != "$from" ]; }; then
      echo "$f includes $inc: $from may include only its own folder and the layers below it" >&2
      bad=$((bad + 1))
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$f")
done
echo "include_layers: $checked includes checked, $bad running the wrong way"
[ "$bad" -eq 0 ]
