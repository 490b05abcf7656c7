#!/bin/sh
# The README's pictures, cut from the screenshots the window checks take of real runs (the Linux window
# and station window under Xvfb, the Windows dialog and station window under Wine): each trimmed to the
# window, scaled down and stored as a small palette PNG in docs/pictures.
# Usage: make-pictures.sh LINUX_SHOTS WINDOWS_SHOTS
set -eu
linux=$1
windows=$2
out=$(dirname "$0")/../docs/pictures
mkdir -p "$out"
command -v convert >/dev/null || { echo "make-pictures.sh: ImageMagick's convert is not installed" >&2; exit 1; }

# picture SOURCE NAME WIDTH: the screen's black border cut away (Xvfb's root window is black), the
# window scaled to WIDTH pixels at most.
picture() {
  [ -f "$1" ] || { echo "make-pictures.sh: $1 is missing: run the window checks first" >&2; exit 1; }
  convert "$1" -bordercolor black -border 1 -trim +repage -resize "$3>" -strip +dither -colors 32 "PNG8:$out/$2.png"
  echo "$out/$2.png: $(identify -format '%wx%h' "$out/$2.png"), $(wc -c <"$out/$2.png") bytes"
}

picture "$linux/01-started.png" dialog-linux 480
picture "$linux/station.png" station-linux 640
picture "$windows/window_simulated.png" dialog-windows 480
picture "$windows/station.png" station-windows 640
