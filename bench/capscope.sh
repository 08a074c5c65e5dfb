#!/usr/bin/env bash
# How fast capscope shows frames: a generated capture in which every block
# has an even counter (so every block is drawn) is replayed as fast as the
# stand-in can deliver it to capscope on a private Xvfb.  The time of a
# one-block run (start-up, window, end) is measured beside it and taken off.
# The result is given as a ratio to the 15 frames per second that a
# 29.97 Hz stream with alternating counters asks of the scope.
# Usage: bash bench/capscope.sh [build folder, default build/default] [blocks]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
blocks=${2:-3000}
bin=$build/bin
for p in capscope vbigen devstandin; do
  [ -x "$bin/$p" ] || { echo "capscope.sh: $bin/$p missing; build first" >&2; exit 1; }
done

tmp=$(mktemp -d)
. tools/xvfb.sh
cleanup() {
  xvfb_stop
  rm -rf "$tmp"
}
trap cleanup EXIT

"$bin/vbigen" --counter-start 2 --counter-step 2 -n "$blocks" -o "$tmp/long.vbi"
"$bin/vbigen" --counter-start 2 --counter-step 2 -n 1 -o "$tmp/one.vbi"

xvfb_start "$tmp"

run() {
  local t0 t1
  t0=$(date +%s.%N)
  "$bin/devstandin" --vbi "$1" "$bin/capscope" 2>/dev/null
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }'
}

one=$(run "$tmp/one.vbi")
long=$(run "$tmp/long.vbi")
# The end-of-stream read draws the last block once more.
frames=$((blocks + 1))
fps=$(awk -v f="$frames" -v l="$long" -v o="$one" 'BEGIN { printf "%.3f", (f - 2) / (l - o) }')
printf 'capscope: %d frames in %.3f s (start-up and end %.3f s taken off)\n' "$frames" "$long" "$one"
printf 'capscope: %.0f displayed frames/s, %.1f x the 15 frames/s of a 29.97 Hz stream\n' "$fps" \
  "$(awk -v f="$fps" 'BEGIN { print f / 15 }')"
