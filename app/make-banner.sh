#!/bin/sh
# Draws the About window's banner, banner.jpg: 261 x 106 pixels, the name on a
# strip of film. The window shows only the middle 61 rows or so, so the strip
# and the name sit in that band; the rest is background that a taller panel
# would reveal. Needs ImageMagick's convert and the DejaVu fonts.
set -eu
cd "$(dirname "$0")"

holes=""
x=6
while [ "$x" -lt 261 ]; do
  holes="$holes rectangle $x,26 $((x + 6)),30 rectangle $x,75 $((x + 6)),79"
  x=$((x + 13))
done

frames=""
x=4
while [ "$x" -lt 261 ]; do
  frames="$frames line $x,34 $x,71"
  x=$((x + 64))
done

convert -size 261x106 gradient:'#1c2a44-#0b1220' \
  -fill '#151515' -draw "rectangle 0,22 260,83" \
  -fill '#e8e2cf' -draw "$holes" \
  -stroke '#3a3a3a' -strokewidth 1 -draw "$frames" -stroke none \
  -fill '#26406e' -draw "rectangle 0,34 260,71" \
  -font DejaVu-Sans-Bold -pointsize 26 -fill '#f2c14e' \
  -gravity center -annotate +0+0 'Zantrel' \
  -font DejaVu-Sans -pointsize 9 -fill '#c8d3e6' -gravity south -annotate +0+4 'AVI index check and rebuild' \
  -gravity north -annotate +0+4 'checks  -  rebuilds  -  plays again' \
  -strip -quality 90 -sampling-factor 2x2 banner.jpg
