#!/usr/bin/env bash
# What decoding the whole caption stream costs against the simplest
# decoder: vbicc (both caption lines of every block) and captext (line 21
# of field 1, replayed through the device stand-in) over the same generated
# capture, taking turns, as wall time (best of the runs) and CPU time (user
# + system, their mean).  Then vbicc's peak memory over an hour of capture
# made on the fly and piped in.
# Usage: bash bench/vbicc.sh [build-dir] [blocks] [long-blocks]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
blocks=${2:-5000}
long=${3:-107892}
runs=${RUNS:-10}
bin=$build/bin
for p in vbicc captext vbigen libdevstandin.so; do
  [ -e "$bin/$p" ] || { echo "build first: cmake --preset default && cmake --build --preset default" >&2; exit 1; }
done

dir=$(mktemp -d /tmp/vbicc-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
capture=$dir/capture.vbi
# Captions on field 1 and the Extended Data Services on field 2, so that
# both lines carry a signal.
gen=("$bin/vbigen" --mode pop-on --noise 4 --xds-program-name "Evening News" --xds-network PBS)
"${gen[@]}" -n "$blocks" -o "$capture" tools/vbigen/sample-captions.txt
cat "$capture" >/dev/null   # every run starts from the page cache

# vbicc and captext take turns: best wall and mean CPU time of each.
source bench/turns.sh
cmd_cap=(env LD_PRELOAD="$PWD/$bin/libdevstandin.so" STANDIN_VBI="$capture" "$bin/captext")
cmd_cc=("$bin/vbicc" -f json "$capture")
take_turns "$runs" "$dir" cap cc
read -r w_cap c_cap < <(figures "$runs" "$dir" cap)
read -r w_cc c_cc < <(figures "$runs" "$dir" cc)
printf 'capture: %d blocks, %d bytes\n' "$blocks" "$(stat -c %s "$capture")"
printf '%-8s wall %7.3f s  cpu %7.3f s\n' captext "$w_cap" "$c_cap" vbicc "$w_cc" "$c_cc"
printf 'ratio vbicc/captext: wall %.2f  cpu %.2f (aim: 2 or less)\n' \
  "$(ratio "$w_cc" "$w_cap")" "$(ratio "$c_cc" "$c_cap")"

# Peak memory over an hour of capture (107,892 frames at 29.97 a second):
# the generator writes into a pipe, vbicc reads standard input.
"${gen[@]}" -n "$long" tools/vbigen/sample-captions.txt |
  /usr/bin/time -o "$dir/peak" -f '%M' "$bin/vbicc" -f json - >"$dir/out"
peak=$(tail -1 "$dir/peak")
tail -1 "$dir/out" | grep -q "\"blocks\":$long," || { echo "the long run did not read $long blocks" >&2; exit 1; }
printf 'peak memory, %d blocks piped in: %d KiB (%.1f MiB; aim: under 32 MiB)\n' \
  "$long" "$peak" "$(echo "$peak / 1024" | bc -l)"
