#!/usr/bin/env bash
# The demo: builds the toolkit, generates a short caption VBI stream from the
# sample captions, replays it through the unchanged captext with the device
# stand-in in place of /dev/vbi0, and shows the caption lines it decodes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

echo "=== building" >&2
log=build/demo-build.log
mkdir -p build
# The default preset's folder, whose bin/ the README puts on PATH for the
# tour; the test command builds on the same folder.
if ! { cmake --preset default &&
       cmake --build --preset default -j2; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
bin=build/default/bin

capture=$(mktemp /tmp/demo-capture.XXXXXX.vbi)
trap 'rm -f "$capture"' EXIT
"$bin/vbigen" --noise 6 -o "$capture" tools/vbigen/sample-captions.txt
blocks=$(( $(stat -c %s "$capture") / 65536 ))

echo "=== captions sent (tools/vbigen/sample-captions.txt)" >&2
cat tools/vbigen/sample-captions.txt >&2
echo "=== captext decodes $blocks generated blocks ($capture) read from /dev/vbi0:" >&2
"$bin/devstandin" --vbi "$capture" "$bin/captext"
