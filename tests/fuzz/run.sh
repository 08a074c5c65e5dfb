#!/usr/bin/env bash
# Builds the fuzz preset and gives every fuzz target a short run on a copy
# of its corpus, then replays the committed corpus.  Fails on any crash;
# the crashing input is kept in build/fuzz/artifacts/.
# Usage: bash tests/fuzz/run.sh [seconds per target, default 20]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-20}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz/artifacts
status=0
for bin in build/fuzz/fuzzers/*; do
  [ -f "$bin" ] && [ -x "$bin" ] || continue
  name=$(basename "$bin")
  corpus=tests/fuzz/corpus/$name
  mkdir -p "$work/$name"
  if [ -d "$corpus" ]; then
    cp "$corpus"/. "$work/$name"/ -r
  fi
  echo "=== fuzz $name for ${seconds}s"
  if ! "$bin" -max_total_time="$seconds" -artifact_prefix="build/fuzz/artifacts/$name-" \
        "$work/$name" >"$work/$name.log" 2>&1; then
    tail -n 40 "$work/$name.log"
    echo "=== fuzz $name: FAILED" >&2
    status=1
    continue
  fi
  # Executions run and the corpus size it ended with.
  grep -E "^#[0-9]+[[:space:]].*corp:" "$work/$name.log" | tail -n 1 | sed 's/ lim:.*//' || true
  grep -E "^Done" "$work/$name.log" | tail -n 1 || true
  if [ -d "$corpus" ] && ls "$corpus"/* >/dev/null 2>&1; then
    if ! "$bin" "$corpus"/* >"$work/$name.replay.log" 2>&1; then
      tail -n 40 "$work/$name.replay.log"
      echo "=== fuzz $name: corpus replay FAILED" >&2
      status=1
    fi
  fi
done
exit $status
