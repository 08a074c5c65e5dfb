#!/usr/bin/env bash
# Builds the three variants (x86-64, 32-bit x86, sanitizers) and runs every
# test in each; the full run (no arguments) also gives every fuzz target a
# short run on its corpus, and builds, checks, installs for a moment and
# purges the Debian packages (left in build/packages/).
# Usage: bash tools/test.sh [preset ...]
set -uo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh || exit 1

presets=("$@")
all=0
[ ${#presets[@]} -eq 0 ] && all=1 && presets=(default i386 sanitize)

status=0
# Each stage's heading says when it starts, so that the run's cost can be
# read stage by stage from its output.
stage() { echo "=== $1 (at $((SECONDS / 60))m$((SECONDS % 60))s)"; }
build() {
  stage "$1: configure and build"
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2
}
for p in "${presets[@]}"; do
  build "$p" || { status=1; continue; }
  # The stages that need no build of their own run before the last
  # variant, so that CTest's summary closes the output.
  if [ $all -eq 1 ] && [ "$p" = sanitize ]; then
    stage fuzz
    bash tests/fuzz/run.sh || status=1
    stage packages
    { bash tools/package.sh build/packages &&
      bash tests/ship/check-packages.sh build/packages; } || status=1
  fi
  stage "$p: tests"
  ctest --preset "$p" || status=1
done
exit $status
