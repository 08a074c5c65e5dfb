#!/usr/bin/env bash
# Makes the pictures of the README: the sample logo as drawn, and the
# same logo after crestmake and crestimg, both enlarged twice as PNGs.
# Usage: bash docs/crest-pictures.sh [bin folder, default build/default/bin]
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/default/bin}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash docs/crest-logo.sh "$work/logo.ppm"
"$bin/crestmake" "$work/logo.ppm" "$work/logo.crest"
"$bin/crestimg" "$work/logo.crest" "$work/back.ppm"
pamenlarge 2 "$work/logo.ppm" | pnmtopng > docs/crest-input.png
pamenlarge 2 "$work/back.ppm" | pnmtopng > docs/crest-output.png
"$bin/crestmake" -m | pamenlarge 4 | pnmtopng > docs/crest-palette.png
echo "docs/crest-input.png docs/crest-output.png docs/crest-palette.png written"
