#!/usr/bin/env bash
# How fast capscope-runin draws: a generated capture replayed through the
# device stand-in as fast as it is read, into a private Xvfb.  Prints the
# blocks drawn per second and their ratio to the 29.97 blocks per second a
# live NTSC stream delivers (a ratio above 1 keeps up with the device).
# Usage: bash bench/runin.sh [preset] [blocks]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
blocks=${2:-3000}
bin=build/$preset/bin
for f in capscope-runin devstandin vbigen libdevstandin.so; do
  [ -e "$bin/$f" ] || { echo "runin.sh: $bin/$f missing; build the $preset preset first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/runin-bench.XXXXXX)
. tools/xvfb.sh
cleanup() {
  xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT

xvfb_start "$work"

# Noisy captions on the shown line, with a frame gap now and then.
"$bin/vbigen" -n "$blocks" --noise 2 --gap-every 100 --gap 2 -o "$work/capture.vbi"

run() {
  local t0 t1
  t0=$(date +%s.%N)
  "$bin/devstandin" --vbi "$work/capture.vbi" "$bin/capscope-runin" 2>/dev/null
  # One round trip after the program has gone: the server has drawn what
  # it was sent.
  xprop -root >/dev/null
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f\n", b - a }'
}

run >/dev/null  # warm-up
best=
for _ in 1 2 3; do
  t=$(run)
  if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
done
awk -v p="$preset" -v n="$blocks" -v t="$best" 'BEGIN {
  printf "capscope-runin (%s): %d blocks in %.3f s: %.0f blocks/s, %.1f x the 29.97 blocks/s of a live stream\n",
    p, n, t, n / t, n / t / 29.97 }'
