#!/usr/bin/env bash
# What a whole-capture scan costs against the simplest decoder: vbiscan and
# captext (replaying through the device stand-in) over the same generated
# capture, side by side, as wall time (best of several runs) and as CPU
# time (user + system, the mean of the runs; steadier on a busy machine).  Then vbiscan's peak
# memory over a long capture made on the fly and piped in, so that no file
# of gigabytes is needed.
# Usage: bash bench/vbiscan.sh [build-dir] [blocks] [long-blocks]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
blocks=${2:-5000}
long=${3:-50000}
runs=${RUNS:-10}
bin=$build/bin
for p in vbiscan captext vbigen libdevstandin.so; do
  [ -e "$bin/$p" ] || { echo "build first: cmake --preset default && cmake --build --preset default" >&2; exit 1; }
done

dir=$(mktemp -d /tmp/vbiscan-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
capture=$dir/capture.vbi
"$bin/vbigen" -n "$blocks" --noise 4 -o "$capture" tools/vbigen/sample-captions.txt
cat "$capture" >/dev/null   # every run starts from the page cache

# The three commands take turns, $runs rounds, so that a busy machine
# weighs on each alike: for each the best wall time and the mean CPU time
# (user + system).
source bench/turns.sh
cmd_cap=(env LD_PRELOAD="$PWD/$bin/libdevstandin.so" STANDIN_VBI="$capture" "$bin/captext")
cmd_scan=("$bin/vbiscan" "$capture")
cmd_png=("$bin/vbiscan" --png "$dir/pics" "$capture")
take_turns "$runs" "$dir" cap scan png
read -r w_cap c_cap < <(figures "$runs" "$dir" cap)
read -r w_scan c_scan < <(figures "$runs" "$dir" scan)
read -r w_png c_png < <(figures "$runs" "$dir" png)

printf 'capture: %d blocks, %d bytes\n' "$blocks" "$(stat -c %s "$capture")"
printf '%-16s wall %7.3f s  cpu %7.3f s\n' captext "$w_cap" "$c_cap" vbiscan "$w_scan" "$c_scan" \
  "vbiscan --png" "$w_png" "$c_png"
printf 'ratio vbiscan/captext: wall %.2f  cpu %.2f (aim: 3 or less)\n' \
  "$(ratio "$w_scan" "$w_cap")" "$(ratio "$c_scan" "$c_cap")"
printf 'ratio vbiscan --png/captext: wall %.2f  cpu %.2f\n' "$(ratio "$w_png" "$w_cap")" "$(ratio "$c_png" "$c_cap")"

# Peak memory over a long capture, pictures included: the generator writes
# into a pipe and vbiscan reads standard input.
"$bin/vbigen" -n "$long" --noise 4 tools/vbigen/sample-captions.txt |
  /usr/bin/time -o "$dir/peak" -f '%M' "$bin/vbiscan" --png "$dir/long" - >"$dir/report"
peak=$(tail -1 "$dir/peak")
grep -q "^  blocks      $long whole" "$dir/report" || { echo "the long scan did not read $long blocks" >&2; exit 1; }
printf 'peak memory, %d blocks piped in, with pictures: %d KiB (%.1f MiB; aim: under 64 MiB)\n' \
  "$long" "$peak" "$(echo "$peak / 1024" | bc -l)"
