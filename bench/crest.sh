#!/usr/bin/env bash
# Times the logo converters as whole processes against netpbm doing the
# same job on the same 128x128 sample logo, side by side in one run:
#   crestmake logo.ppm out.crest     vs  pnmremap -mapfile=palette.ppm logo.ppm
#     (map every pixel to the nearest of the 240 colours of crestmake -m)
#   crestimg logo.crest out.ppm      vs  pamlookup -lookupfile=palette.ppm logo.pgm
#     (look every index up in the same 240-colour table; logo.pgm is the
#      crest file with a PGM header, made once beforehand; the two rasters
#      are identical)
# Prints the time per run of each and the ratio (ours / netpbm; below 1 is
# faster).  Usage: bash bench/crest.sh [runs, default 200] [bin folder]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200}
bin=${2:-build/default/bin}
[ -x "$bin/crestmake" ] && [ -x "$bin/crestimg" ] || {
  echo "bench/crest.sh: build crestmake and crestimg first (cmake --build --preset default)" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash docs/crest-logo.sh "$work/logo.ppm"
"$bin/crestmake" -m >"$work/palette.ppm"
"$bin/crestmake" "$work/logo.ppm" "$work/logo.crest"
rawtopgm 128 128 "$work/logo.crest" >"$work/logo.pgm"

# Wall time of one command repeated $runs times, in microseconds per run.
per_run() {
  local start end i
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do
    "$@"
  done
  end=$(date +%s%N)
  echo $(((end - start) / 1000 / runs))
}

crestmake_run() { "$bin/crestmake" "$work/logo.ppm" "$work/out.crest"; }
pnmremap_run() { pnmremap -quiet -mapfile="$work/palette.ppm" "$work/logo.ppm" >"$work/remap.ppm"; }
crestimg_run() { "$bin/crestimg" "$work/logo.crest" "$work/out.ppm"; }
pamlookup_run() { pamlookup -quiet -lookupfile="$work/palette.ppm" "$work/logo.pgm" >"$work/lookup.ppm"; }

# One warm-up run of each, then the timed runs.
crestmake_run; pnmremap_run; crestimg_run; pamlookup_run
make_us=$(per_run crestmake_run)
remap_us=$(per_run pnmremap_run)
img_us=$(per_run crestimg_run)
lookup_us=$(per_run pamlookup_run)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "crest benchmark, 128x128 logo, $runs runs each, wall time per process run"
printf '  crestmake %6d us   pnmremap  %6d us   ratio %s\n' "$make_us" "$remap_us" "$(ratio "$make_us" "$remap_us")"
printf '  crestimg  %6d us   pamlookup %6d us   ratio %s\n' "$img_us" "$lookup_us" "$(ratio "$img_us" "$lookup_us")"
