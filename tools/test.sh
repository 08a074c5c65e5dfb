#!/usr/bin/env bash
# Builds the three variants (x86-64, 32-bit x86, sanitizers) and runs every
# test in each.  Usage: bash tools/test.sh [preset ...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

presets=("$@")
all=0
[ ${#presets[@]} -eq 0 ] && all=1 && presets=(default i386 sanitize)

status=0
for p in "${presets[@]}"; do
  echo "=== $p: configure and build"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j2
  echo "=== $p: tests"
  ctest --preset "$p" || status=1
done
# The full run also gives every fuzz target a short run on its corpus.
if [ $all -eq 1 ]; then
  echo "=== fuzz"
  bash tests/fuzz/run.sh || status=1
fi
exit $status
