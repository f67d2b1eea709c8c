#!/bin/sh
# Converts every BMP, PNG and JPEG picture below the current folder into a
# screen file beside it, one a core, without make:
#
#   cd my-pictures && sh /path/to/examples/pictures.sh
#
# The extensions count in any case (.JPG as cameras write it). BMP and PNG go
# to encscreen as they are, JPEG through ImageMagick as a 24-bit BMP. Two
# pictures that would make the same screen file (a.bmp and a.PNG) are both
# refused, with their names, rather than one overwriting the other's screen.
# Each picture that fails is named, and the status is not 0 if any failed.
# ENCSCREEN names the program: the installed encscreen unless set; OPTIONS
# go to every conversion (OPTIONS=--perceptual, say). One conversion runs a
# core, each on one thread (--threads 1).
find . \( -iname '*.bmp' -o -iname '*.png' -o -iname '*.jpg' -o -iname '*.jpeg' \) -print0 |
  xargs -0 -r -P "$(nproc)" -n 1 sh -c '
    for other in "${1%.*}".[bB][mM][pP] "${1%.*}".[pP][nN][gG] "${1%.*}".[jJ][pP][gG] "${1%.*}".[jJ][pP][eE][gG]; do
      [ "$other" = "$1" ] || [ ! -e "$other" ] || { echo "$1 and $other would make the same screen file" >&2; exit 1; }
    done
    case $1 in
      *.[jJ][pP][gG] | *.[jJ][pP][eE][gG]) convert "$1" -type truecolor bmp:- | "$0" --threads 1 $OPTIONS - "${1%.*}.scn" ;;
      *) "$0" --threads 1 $OPTIONS "$1" "${1%.*}.scn" ;;
    esac
    test $? -eq 1 || { echo "$1 failed" >&2; exit 1; }' "${ENCSCREEN:-encscreen}"
