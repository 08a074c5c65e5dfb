#!/usr/bin/env bash
# Write rate vmemburst reports on the stand-in's video memory window, against
# the same 2929 fills of an ordinary 128 KiB buffer, measured side by side.
# The window is a page-cache backed file mapping, so the ratio should be
# close to 1: anything far below means the fills are not burst memsets.
# Usage: bash bench/vmemburst.sh [build-dir]   (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
bin=$build/bin
for t in vmemburst vmemburst-baseline devstandin libdevstandin.so; do
  [ -e "$bin/$t" ] || { echo "vmemburst.sh: $bin/$t missing; build first" >&2; exit 1; }
done

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# Physical memory as the stand-in sees it: a sparse file reaching past the
# window at 0xE8000000.
truncate -s $((0xE8000000 + 131072)) "$dir/mem"

rate() { awk '/ bytes\/sec$/ { r = $(NF - 1) } END { print r }'; }
best() { sort -g | tail -1; }

# vmemburst maps the window at virtual address 0; where the machine refuses
# that, the same test runs on the window placed by the kernel.
how="vmemburst (window at address 0)"
if ! "$bin/devstandin" --mem "$dir/mem" "$bin/vmemburst" 2>"$dir/probe"; then
  how="vmemburst-baseline window (address 0 refused: $(head -1 "$dir/probe" | sed 's/.*: //'))"
fi
window() {
  if [[ $how == vmemburst\ * ]]; then
    "$bin/devstandin" --mem "$dir/mem" "$bin/vmemburst" 2>&1 | rate
  else
    "$bin/devstandin" --mem "$dir/mem" "$bin/vmemburst-baseline" window 2>&1 | rate
  fi
}

runs=5
w=(); b=()
for _ in $(seq $runs); do
  w+=("$(window)")
  b+=("$("$bin/vmemburst-baseline" buffer | rate)")
done
wbest=$(printf '%s\n' "${w[@]}" | best)
bbest=$(printf '%s\n' "${b[@]}" | best)
echo "window: $how"
printf 'stand-in window  %20.0f bytes/sec (best of %d)\n' "$wbest" "$runs"
printf 'plain buffer     %20.0f bytes/sec (best of %d)\n' "$bbest" "$runs"
awk -v w="$wbest" -v b="$bbest" 'BEGIN { printf "ratio window/buffer: %.3f\n", w / b }'
