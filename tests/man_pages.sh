#!/usr/bin/env bash
# The manual pages render without a single groff warning, and each names every
# message its program can print, so a message added to a program without a
# word in its page fails here. The pages as they stand in the clone name the
# project's version, as the installed ones do, and every example command in
# them runs as printed (BIN_DIR's programs on the PATH) and says nothing.
#   man_pages.sh SOURCE_DIR BIN_DIR WORK_DIR        VERSION: the project's
set -u
src=$(cd "$1" && pwd) bin=$(cd "$2" && pwd) work=$3
version=${VERSION:?the project version}
if command -v groff >/dev/null; then
  render() { groff -ww -man -z "$1"; }
elif command -v man >/dev/null; then
  render() { man --warnings -l "$1" >/dev/null; }
else
  echo "SKIPPED: neither groff nor man is installed"
  exit 77
fi

# The messages as cli/messages.hpp defines them, without their line feed and
# bell: those of the constants named in the files given, and for the
# encoders the picture's messages too.
messages() {
  local names
  names=$(grep -ohE '\bk[A-Z][A-Za-z0-9]*\b' "$@" | sort -u)
  grep -E '^inline constexpr const char\* k[A-Za-z0-9]+ = "' "$src/cli/messages.hpp" |
    while IFS= read -r line; do
      name=${line#inline constexpr const char\* }
      name=${name%% =*}
      grep -qx "$name" <<<"$names" || continue
      sed -e 's/^[^"]*"//' -e 's/\\a";$//' -e 's/";$//' -e 's/\\n$//' <<<"$line"
    done
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
  sources=("$src/$prog/main.cpp" "$src/cli/cli.cpp")
  # The encoders print the picture's messages, which picture_error_message picks.
  picture_messages=$(mktemp)
  sed -n '/picture_error_message/,$p' "$src/cli/messages.hpp" >"$picture_messages"
  [ $prog = decscreen ] || sources+=("$picture_messages")
  while IFS= read -r m; do
    checked=$((checked + 1))
    if ! grep -qF -- "\"$m\"" "$page"; then
      echo "FAIL: $prog.1 does not list the message \"$m\""
      failed=$((failed + 1))
    fi
  done < <(messages "${sources[@]}")
  rm -f "$picture_messages"
done
[ $checked -ge 20 ] || { echo "FAIL: found only $checked messages in the sources"; exit 1; }

# The footer of each page from the clone, as `man -l man/PROG.1` shows it.
for prog in encscreen encsprite decscreen; do
  page=$src/man/$prog.1
  if ! head -1 "$page" | grep -qF "\"vorne-screen-tools $version\""; then
    echo "FAIL: $prog.1 does not name version $version: $(head -1 "$page")"
    failed=$((failed + 1))
  fi
  command -v man >/dev/null || continue
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  footer=$(MANWIDTH=80 man -l "$page" 2>/dev/null | tail -1)
  if [ -n "$warnings" ] || [[ $footer != "vorne-screen-tools $version "* ]]; then
    echo "FAIL: man --warnings -l $prog.1 warns or shows another footer: $warnings$footer"
    failed=$((failed + 1))
  fi
done

# The examples: each .EX block that starts with a command, in roff's
# spelling turned back into the shell's, run in a folder of its own that
# holds the pictures it names (or, naming none, a folder of pictures with
# upper-case extensions). The installed recipes are taken from examples/.
examples=0
if /usr/bin/convert -version 2>/dev/null | grep -q ImageMagick; then
  rm -rf "$work" && mkdir -p "$work/in" || { echo "FAIL: cannot make $work"; exit 1; }
  work=$(cd "$work" && pwd) in=$work/in
  cp "$src/examples/sunset.bmp" "$in/sunset.bmp"
  "$bin/encscreen" "$in/sunset.bmp" "$in/sunset.scn"
  cp "$src/examples/sprites.png" "$in/sprite.png" && cp "$src/examples/sprites.png" "$in/sprites.png"
  convert "$src/examples/sprites.png" -type truecolor "BMP3:$in/sprites.bmp"
  convert "$src/examples/sprites.png" "$in/sprites.gif"
  convert -size 32x16 xc:navy -fill red -draw "rectangle 8,0 23,15" "$in/picture.gif"
  convert "$src/examples/sprites.png" -crop 32x16+0+0 +repage -type truecolor "BMP3:$in/hero.bmp"
  convert "$src/examples/sprites.png" -crop 32x16+32+0 +repage -type truecolor "BMP3:$in/enemies.bmp"
  mkdir -p "$in/folder"
  cp "$src/examples/sunset.bmp" "$in/folder/SUNSET.BMP" && cp "$src/examples/sprites.png" "$in/folder/Sprites.Png"
  convert "$src/examples/sunset.bmp" -flop "$in/folder/IMG_0001.JPG"
  convert "$src/examples/sunset.bmp" "$in/photo.jpg"
  n=0
  for prog in encscreen encsprite decscreen; do
    while IFS= read -r -d '' block; do
      n=$((n + 1))
      case $block in encscreen* | encsprite* | decscreen* | convert* | find* | make* | sh* | "{"*) ;; *) continue ;; esac
      if ! command -v pasmo >/dev/null && [[ $block == *pasmo* ]]; then
        echo "pasmo is not installed: the example of $prog.1 that assembles was not run"
        continue
      fi
      dir=$work/$prog-$n
      mkdir -p "$dir"
      for f in "$in"/*; do [ -f "$f" ] && [[ $block == *$(basename "$f")* ]] && cp "$f" "$dir/"; done
      [ -n "$(ls "$dir")" ] || cp "$in"/folder/* "$dir/"
      touch "$work/stamp"
      # Silent but for a failure: make, which shows each command it runs, as well.
      (cd "$dir" && PATH=$bin:$PATH MAKEFLAGS=s bash -c "$block") >"$work/log" 2>&1
      if [ -s "$work/log" ] || [ -z "$(find "$dir" -newer "$work/stamp" -type f)" ]; then
        echo "FAIL: an example of $prog.1 fails or writes nothing:"
        echo "$block" && cat "$work/log"
        failed=$((failed + 1))
      fi
      examples=$((examples + 1))
      # Two listings in one program: each with labels of its own, they
      # assemble in pasmo and in z80asm to the two sprite sheets' raster
      # words and attribute bytes, which is each sheet's screen file without
      # its 16-byte header, one after the other.
      [[ $block == *--prefix*pasmo* ]] || continue
      for s in hero enemies; do
        "$bin/encsprite" "$dir/$s.bmp" "$dir/$s.scn" && tail -c +17 "$dir/$s.scn"
      done >"$dir/expected.bin"
      cmp -s "$dir/expected.bin" "$dir/sprites.bin" || { echo "FAIL: pasmo's sprites.bin is not the two sheets"; failed=$((failed + 1)); }
      if command -v z80asm >/dev/null; then
        (cd "$dir" && z80asm -o z80asm.bin sprites.asm) >"$work/log" 2>&1 && cmp -s "$dir/expected.bin" "$dir/z80asm.bin" ||
          { echo "FAIL: z80asm does not assemble the two listings to the two sheets:"; cat "$work/log"; failed=$((failed + 1)); }
      else
        echo "z80asm is not installed: the two listings were assembled with pasmo only"
      fi
    done < <(awk '/^\.EX/ { on = 1; body = ""; next }
                  /^\.EE/ { on = 0; printf "%s%c", body, 0; next }
                  on { body = body $0 "\n" }' "$src/man/$prog.1" |
               sed -z -e 's/\\-/-/g' -e 's/\\(aq/'"'"'/g' -e 's/\\(dq/"/g' -e 's/\\&//g' -e 's/\\e/\\/g' \
                 -e "s|/usr/share/doc/vorne-screen-tools/examples/|$src/examples/|g")
  done
  [ $examples -ge 8 ] || { echo "FAIL: ran only $examples examples"; failed=$((failed + 1)); }
else
  echo "ImageMagick's convert is not installed: the pages' examples were not run"
fi
echo "man pages: $checked messages listed, $examples examples run, $failed faults"
[ $failed -eq 0 ]
