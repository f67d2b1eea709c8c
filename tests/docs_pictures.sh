#!/usr/bin/env bash
# The README's pictures in docs/ show what the programs make now: drawn again
# with examples/make_pngs.sh, every pixel must match the committed PNGs.
# (Pixels, not bytes: another ImageMagick may compress the same picture
# differently.)
#   docs_pictures.sh BIN_DIR SOURCE_DIR WORK_DIR
set -u
bin=$1 src=$2 work=$3
command -v compare >/dev/null && /usr/bin/convert -version 2>/dev/null | grep -q ImageMagick ||
  { echo "SKIPPED: ImageMagick is not installed"; exit 77; }
rm -rf "$work" && mkdir -p "$work"
bash "$src/examples/make_pngs.sh" "$bin" "$work" >/dev/null || { echo "FAIL: make_pngs.sh failed"; exit 1; }
failed=0 count=0
for f in "$work"/*.png; do
  name=$(basename "$f")
  count=$((count + 1))
  if [ ! -f "$src/docs/$name" ]; then
    echo "FAIL: docs/$name is not committed"; failed=1; continue
  fi
  differ=$(compare -metric AE "$src/docs/$name" "$f" null: 2>&1)
  [ "$differ" = 0 ] || { echo "FAIL: docs/$name is out of date ($differ pixels differ); run examples/make_pngs.sh"; failed=1; }
done
[ $count -ge 6 ] || { echo "FAIL: make_pngs.sh drew only $count pictures"; exit 1; }
[ $failed -eq 0 ] && echo "docs pictures: $count up to date"
