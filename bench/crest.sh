#!/usr/bin/env bash
# Times the logo converters as whole processes against netpbm doing the
# same job on the same input, side by side in one run:
#   crestmake logo.ppm out.crest   vs  pnmremap -nofloyd -mapfile=palette.ppm logo.ppm
#     (map every pixel to one of the 240 colours of crestmake -m), on the
#     sample logo and on a 128x128 logo of 16384 different colours
#   crestimg logo.crest out.ppm    vs  pamlookup -lookupfile=palette.ppm logo.pgm
#     (look every index up in the same 240-colour table; logo.pgm is the
#      crest file with a PGM header, made once beforehand; the two rasters
#      are identical)
# The two programs of a job run alternately, so a busy moment of the
# machine falls on both; each figure is the median over the runs, of wall
# time and of CPU time (user + system, what the process itself cost).  The
# ratio is ours / netpbm: below 1 is faster.
# Usage: bash bench/crest.sh [runs, default 200] [bin folder]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200}
bin=${2:-build/default/bin}
for t in crestmake crestimg proctime; do
  [ -x "$bin/$t" ] || {
    echo "bench/crest.sh: $bin/$t missing; build first (cmake --build --preset default)" >&2
    exit 1
  }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash docs/crest-logo.sh "$work/logo.ppm"
# Colour n * 1021 for pixel n: 16384 different colours over the whole cube,
# so that no two pixels share a match.
perl -e 'print "P6\n128 128\n255\n";
         print pack("C3", $_ >> 16, ($_ >> 8) & 255, $_ & 255) for map { $_ * 1021 } 0 .. 16383' \
  >"$work/colours.ppm"
"$bin/crestmake" -m >"$work/palette.ppm"
"$bin/crestmake" "$work/logo.ppm" "$work/logo.crest"
rawtopgm 128 128 "$work/logo.crest" >"$work/logo.pgm"

crestmake_run() { "$bin/proctime" "$bin/crestmake" "$1" "$work/out.crest"; }
pnmremap_run() {
  "$bin/proctime" -o "$work/remap.ppm" pnmremap -quiet -nofloyd -mapfile="$work/palette.ppm" "$1"
}
crestimg_run() { "$bin/proctime" "$bin/crestimg" "$1" "$work/out.ppm"; }
pamlookup_run() {
  "$bin/proctime" -o "$work/lookup.ppm" pamlookup -quiet -lookupfile="$work/palette.ppm" "$1"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# job LABEL OURS THEIRS INPUT_OURS INPUT_THEIRS
job() {
  local label=$1 ours=$2 theirs=$3 in_ours=$4 in_theirs=$5 i
  "$ours" "$in_ours" >/dev/null; "$theirs" "$in_theirs" >/dev/null   # warm-up
  : >"$work/a"; : >"$work/b"
  for ((i = 0; i < runs; i++)); do
    "$ours" "$in_ours" >>"$work/a"
    "$theirs" "$in_theirs" >>"$work/b"
  done
  local aw bw ac bc
  aw=$(cut -d' ' -f1 "$work/a" | median); bw=$(cut -d' ' -f1 "$work/b" | median)
  ac=$(cut -d' ' -f2 "$work/a" | median); bc=$(cut -d' ' -f2 "$work/b" | median)
  printf '  %-38s CPU %6.0f us vs %6.0f us  ratio %s   wall %6.0f us vs %6.0f us  ratio %s\n' \
    "$label" "$ac" "$bc" "$(ratio "$ac" "$bc")" "$aw" "$bw" "$(ratio "$aw" "$bw")"
}

echo "crest benchmark: whole processes, medians of $runs paired runs (ours vs netpbm)"
job "crestmake vs pnmremap, sample logo" crestmake_run pnmremap_run "$work/logo.ppm" "$work/logo.ppm"
job "crestmake vs pnmremap, 16384 colours" crestmake_run pnmremap_run "$work/colours.ppm" "$work/colours.ppm"
job "crestimg vs pamlookup, sample logo" crestimg_run pamlookup_run "$work/logo.crest" "$work/logo.pgm"
