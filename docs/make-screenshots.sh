#!/usr/bin/env bash
# Makes docs/capscope.png: capscope on a private Xvfb, fed a generated
# caption stream at the device's pace (29.97 frames/s, counters alternating
# odd and even, every caption pair held for two frames so that the even
# frames the scope shows carry every pair), photographed once the ticker has
# filled with caption text.
# Usage: bash docs/make-screenshots.sh [build folder, default build/default]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
bin=$build/bin
seconds=${SCREENSHOT_AFTER:-24}
for p in capscope vbigen devstandin; do
  [ -x "$bin/$p" ] || { echo "make-screenshots.sh: $bin/$p missing; build first" >&2; exit 1; }
done

tmp=$(mktemp -d)
. tools/xvfb.sh
scope_pid=
cleanup() {
  [ -n "$scope_pid" ] && kill "$scope_pid" 2>/dev/null && wait "$scope_pid" 2>/dev/null
  xvfb_stop
  rm -rf "$tmp"
}
trap cleanup EXIT

"$bin/vbigen" --hold 2 --noise 2 -n 3000 -o "$tmp/capture.vbi" \
  -t "Closed captions arrive two characters per frame," \
  -t "sliced from line 21 of the vertical blanking interval." \
  -t "Each pair carries an odd-parity bit per character."

xvfb_start "$tmp"

"$bin/devstandin" --vbi "$tmp/capture.vbi" --pace "$bin/capscope" 2>"$tmp/captions" &
scope_pid=$!
sleep "$seconds"

window=$(xwininfo -root -children | awk '/"capscope [0-9]+"/ { print $1; exit }')
[ -n "$window" ] || { echo "make-screenshots.sh: no capscope window" >&2; exit 1; }
# Stop the scope on the frame it shows, so the picture is a whole one.
kill -STOP "$scope_pid"
import -display "$DISPLAY" -window "$window" png:docs/capscope.png
kill -CONT "$scope_pid"
echo "docs/capscope.png written; caption lines so far:"
cat "$tmp/captions"
