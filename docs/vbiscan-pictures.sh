#!/usr/bin/env bash
# Makes vbiscan's pictures for the README, and the example report beside
# them, from a generated capture of 20 seconds with noise and skipped
# frames: docs/vbiscan-waterfall.png, docs/vbiscan-eye.png,
# docs/vbiscan-lines.png and docs/vbiscan-report.txt.
# Usage: bash docs/vbiscan-pictures.sh [bin folder, default build/default/bin]
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/default/bin}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 600 frames (20 seconds) of vbigen's own sample text, noise of 7 levels,
# every 97th frame followed by 4 lost ones: the capture of the README's
# example.
"$bin/vbigen" -n 600 --noise 7 --gap-every 97 --gap 4 -o "$work/noisy.vbi"
(cd "$work" && "$OLDPWD/$bin/vbiscan" --png pics noisy.vbi) > docs/vbiscan-report.txt
for p in waterfall eye lines; do
  cp "$work/pics/$p.png" "docs/vbiscan-$p.png"
done
echo "docs/vbiscan-waterfall.png docs/vbiscan-eye.png docs/vbiscan-lines.png docs/vbiscan-report.txt written"
