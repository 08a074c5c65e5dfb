#!/usr/bin/env bash
# How fast vbigen writes captures: blocks per second for a plain stream, a
# pop-on stream built from the sample captions and an SCC-driven stream
# from the sample SCC file, each written to /dev/null (best of several
# runs, wall time), and the same against the device's 29.97 blocks a
# second.  The aim is 100 times the device's rate or more.
# Usage: bash bench/vbigen.sh [build-dir] [blocks]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
blocks=${2:-20000}
runs=${RUNS:-5}
bin=$build/bin
[ -x "$bin/vbigen" ] || { echo "build first: cmake --preset default && cmake --build --preset default" >&2; exit 1; }

best() {  # best wall time in seconds of "$@" over $runs runs
  local b= s e t
  for _ in $(seq "$runs"); do
    s=$(date +%s.%N)
    "$@" >/dev/null
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}

report() {  # NAME SECONDS
  local rate
  rate=$(echo "$blocks / $2" | bc -l)
  printf '%-22s %8.3f s  %9.0f blocks/s  %6.0f x the device\n' "$1" "$2" "$rate" "$(echo "$rate / 29.97" | bc -l)"
}

captions=tools/vbigen/sample-captions.txt
printf 'vbigen, %d blocks to /dev/null, best of %d runs\n' "$blocks" "$runs"
report plain "$(best "$bin/vbigen" -n "$blocks" -o /dev/null "$captions")"
report "plain, noise 4" "$(best "$bin/vbigen" -n "$blocks" --noise 4 -o /dev/null "$captions")"
report pop-on "$(best "$bin/vbigen" -n "$blocks" --mode pop-on -o /dev/null "$captions")"
report "pop-on, noise 4" "$(best "$bin/vbigen" -n "$blocks" --mode pop-on --noise 4 -o /dev/null "$captions")"
report "SCC, XDS" "$(best "$bin/vbigen" -n "$blocks" --scc tools/vbigen/sample.scc --xds-program-name "Late News" -o /dev/null)"
