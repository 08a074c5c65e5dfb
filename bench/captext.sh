#!/usr/bin/env bash
# How much captext costs beyond reading its input: captext replaying a
# generated capture through the device stand-in, against cat of the same
# file to /dev/null, side by side, best of several runs each.
# Usage: bash bench/captext.sh [build-dir] [blocks]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
blocks=${2:-5000}
runs=${RUNS:-5}
bin=$build/bin
[ -x "$bin/captext" ] || { echo "build first: cmake --preset default && cmake --build --preset default" >&2; exit 1; }

dir=$(mktemp -d /tmp/captext-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
capture=$dir/capture.vbi
"$bin/vbigen" -n "$blocks" --noise 4 -o "$capture" tools/vbigen/sample-captions.txt
size=$(stat -c %s "$capture")
cat "$capture" >/dev/null   # both start from the page cache

best() {  # best wall time in seconds of "$@" over $runs runs
  local b=
  for _ in $(seq "$runs"); do
    local s e t
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}

t_cat=$(best cat "$capture")
captext=(env LD_PRELOAD="$PWD/$bin/libdevstandin.so" STANDIN_VBI="$capture" "$bin/captext")
t_cap=$(best "${captext[@]}")
/usr/bin/time -o "$dir/peak" -f '%M' "${captext[@]}" >/dev/null 2>&1
peak=$(tail -1 "$dir/peak")
/usr/bin/time -o "$dir/peak" -f '%M' cat "$capture" >/dev/null
peak_cat=$(tail -1 "$dir/peak")

printf 'capture: %d blocks, %d bytes\n' "$blocks" "$size"
printf 'cat      %8.3f s  %8.1f MB/s  peak %6d KiB\n' "$t_cat" "$(echo "$size / $t_cat / 1000000" | bc -l)" "$peak_cat"
printf 'captext  %8.3f s  %8.1f MB/s  peak %6d KiB\n' "$t_cap" "$(echo "$size / $t_cap / 1000000" | bc -l)" "$peak"
printf 'ratio captext/cat: %.2f (aim: 1.3 or less)\n' "$(echo "$t_cap / $t_cat" | bc -l)"
