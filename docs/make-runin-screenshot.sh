#!/usr/bin/env bash
# Makes docs/runin-screenshot.png: capscope-runin under a private Xvfb, fed
# a generated capture block by block through the device stand-in's live
# feed, photographed (ImageMagick's import) while it shows a caption.
# Leaves no server, program or file behind.
# Usage: bash docs/make-runin-screenshot.sh [preset]   (after building it)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/${1:-default}/bin
out=docs/runin-screenshot.png
for p in capscope-runin vbigen devstandin; do
  [ -x "$bin/$p" ] || { echo "make-runin-screenshot.sh: $bin/$p missing; build first" >&2; exit 1; }
done
work=$(mktemp -d /tmp/runin-shot.XXXXXX)
. tools/xvfb.sh
scope_pid=
# The scope runs in a process group of its own (the runner and the
# program), so that ending it reaches the program itself.
cleanup() {
  exec 4>&-
  group_stop "$scope_pid"
  xvfb_stop
  rm -rf "$work"
}
on_exit cleanup

xvfb_start "$work"

# A little noise and a dropped pair of frames every 40, so the status line
# shows a frame-gap total.
blocks=150
"$bin/vbigen" -n "$blocks" --noise 1.5 --gap-every 40 --gap 2 \
  -t "Testing the run-in scope." -t "Seven clock cycles, then the bits." -o "$work/capture.vbi"

mkfifo "$work/feed"
setsid "$bin/devstandin" --vbi - "$bin/capscope-runin" <"$work/feed" 2>"$work/captions.txt" &
scope_pid=$!
exec 4>"$work/feed"
head -c $((blocks * 65536)) "$work/capture.vbi" >&4
# The last block is on screen once the program has drawn it; a round trip
# through the server after a short wait is enough for a still picture.
for _ in $(seq 100); do xwininfo -name "capscope 11" >/dev/null 2>&1 && break; sleep 0.1; done
sleep 1
id=$(xwininfo -name "capscope 11" | awk '/Window id:/ { print $4 }')
import -window "$id" "$work/shot.png"
# Closing the feed ends the stream and the program with it.
exec 4>&-
wait "$scope_pid"
scope_pid=
cp "$work/shot.png" "$out"
echo "wrote $out; caption lines written meanwhile:"
cat "$work/captions.txt"
