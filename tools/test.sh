#!/usr/bin/env bash
# Builds the three variants (x86-64, 32-bit x86, sanitizers) and runs every
# test in each.  Usage: bash tools/test.sh [preset ...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(default i386 sanitize)

status=0
for p in "${presets[@]}"; do
  echo "=== $p: configure and build"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j2
  echo "=== $p: tests"
  ctest --preset "$p" || status=1
done
# The full run also builds the Debian packages from these builds, checks
# them and installs the amd64 one to try it.
if [ $# -eq 0 ]; then
  echo "=== packages"
  bash tests/ship/check-packages.sh build || status=1
fi
exit $status
