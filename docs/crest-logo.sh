#!/usr/bin/env bash
# Draws the project's sample station logo, a 128x128 raw PPM with maximum
# value 255, with ImageMagick primitives: a sky-to-sea gradient, a shield
# with a sun and three waves, and a colour bar along the bottom.
# Usage: bash docs/crest-logo.sh out.ppm
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: crest-logo.sh out.ppm" >&2; exit 2; }
out=$1
convert -size 128x128 gradient:'#1c3f94'-'#7fd3e8' \
  -fill '#f2c230' -stroke '#6b3a10' -strokewidth 3 \
  -draw 'polygon 24,14 104,14 104,70 64,112 24,70' \
  -stroke none -fill '#d8402c' -draw 'circle 64,46 64,28' \
  -fill '#ffffff' -draw 'rectangle 34,70 94,74' \
  -fill '#2a6fb0' -draw 'rectangle 38,80 90,84' \
  -fill '#143a70' -draw 'rectangle 46,90 82,94' \
  -fill '#000000' -draw 'rectangle 0,116 15,127' \
  -fill '#aa0000' -draw 'rectangle 16,116 31,127' \
  -fill '#00aa00' -draw 'rectangle 32,116 47,127' \
  -fill '#aa5500' -draw 'rectangle 48,116 63,127' \
  -fill '#0000aa' -draw 'rectangle 64,116 79,127' \
  -fill '#aa00aa' -draw 'rectangle 80,116 95,127' \
  -fill '#00aaaa' -draw 'rectangle 96,116 111,127' \
  -fill '#aaaaaa' -draw 'rectangle 112,116 127,127' \
  -depth 8 "ppm:$out"
