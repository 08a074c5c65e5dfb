#!/usr/bin/env bash
# Configures the tree with libraries hidden, by pointing their cache
# variables at paths that do not exist, and checks that CMake stops with
# one line naming the Debian package(s) to install; without the tests, the
# test-only libraries are not needed.  Prints each message it saw.
#
# Usage: configure-checks.sh SOURCE_DIR WORK_DIR ARCH_SUFFIX [CMAKE_ARGS...]
# ARCH_SUFFIX is what the build's architecture adds to the names of
# architecture-dependent packages (":i386" for the -m32 build, else "").
set -uo pipefail
src=$1 work=$2 arch=$3
shift 3
common=(-G Ninja "$@")
rm -rf "$work" && mkdir -p "$work/empty" || exit 1
failed=0
no=$work/nonexistent

# run ARGS...: configures the scratch build, forgetting every earlier result.
run() {
  cmake -S "$src" -B "$work/build" "${common[@]}" -U 'VT_*' "$@" >"$work/out" 2>"$work/err"
}

# expect NAME LINE ARGS...: the configure fails, and LINE is its only message.
expect() {
  local name=$1 line=$2
  shift 2
  run "$@"
  local rc=$? got
  got=$(grep '^   ' "$work/err" | sed 's/^   //')
  if [ $rc -ne 0 ] && [ "$got" = "$line" ]; then
    echo "ok: $name: $got"
  else
    echo "FAIL: $name: status $rc, wanted the one line '$line', got:" >&2
    cat "$work/err" >&2
    failed=1
  fi
}

expect "Xlib headers" "Xlib not found: install the Debian package libx11-dev$arch" \
  -DVT_XLIB_HEADER="$no"
expect "Xlib library" "Xlib not found: install the Debian package libx11-dev$arch" \
  -DVT_XLIB_LIBRARY="$no/libX11.so"
expect "XTest library" "XTest not found: install the Debian package libxtst-dev$arch" \
  -DVT_TESTS=ON -DVT_XTEST_LIBRARY="$no/libXtst.so"
expect "GoogleTest sources" "GoogleTest not found: install the Debian package googletest" \
  -DVT_TESTS=ON -DVT_GOOGLETEST_SOURCE_DIR="$no"
expect "libpng library" "libpng not found: install the Debian package libpng-dev$arch" \
  -DVT_PNG_LIBRARY="$no/libpng.so"
expect "nlohmann-json headers" "nlohmann-json not found: install the Debian package nlohmann-json3-dev" \
  -DVT_JSON_HEADER="$no"
expect "two missing" \
  "libpng and nlohmann-json not found: install the Debian packages libpng-dev$arch nlohmann-json3-dev" \
  -DVT_PNG_HEADER="$no" -DVT_JSON_HEADER="$no"

# The test-only libraries matter only when the tests are built.
if run -DVT_TESTS=OFF -DVT_XTEST_LIBRARY="$no/libXtst.so" -DVT_GOOGLETEST_SOURCE_DIR="$no"; then
  echo "ok: without the tests, XTest and GoogleTest are not needed"
else
  echo "FAIL: configuring without the tests needed XTest or GoogleTest:" >&2
  cat "$work/err" >&2
  failed=1
fi

# Searches that really find nothing, each in a fresh build: every lookup
# rooted in an empty folder; and for the 32-bit build, the i386 library
# folders hidden, where the amd64 libraries beside them must not count.
rm -rf "$work/build"
expect "empty system" \
  "Xlib, libpng, nlohmann-json, XTest and GoogleTest not found: install the Debian packages libx11-dev$arch libpng-dev$arch nlohmann-json3-dev libxtst-dev$arch googletest" \
  -DVT_TESTS=ON -DCMAKE_FIND_ROOT_PATH="$work/empty" \
  -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY
if [ "$arch" = ":i386" ]; then
  rm -rf "$work/build"
  expect "no i386 libraries" \
    "Xlib, libpng and XTest not found: install the Debian packages libx11-dev:i386 libpng-dev:i386 libxtst-dev:i386" \
    -DVT_TESTS=ON "-DCMAKE_IGNORE_PATH=/usr/lib/i386-linux-gnu;/lib/i386-linux-gnu"
fi

[ $failed -eq 0 ] && rm -rf "$work"
exit $failed
