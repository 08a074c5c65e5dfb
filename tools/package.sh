#!/usr/bin/env bash
# Builds the Debian packages of the toolkit with debhelper (debian/): the
# workstation's (amd64) and the target's (i386), each in a scratch copy of
# the tree so that the tree itself stays clean, then checks both with
# lintian and fails on any error or warning.
#
# Usage: bash tools/package.sh [OUTDIR]        (default: build/packages)
# OUTDIR receives vbitools_VERSION_amd64.deb, vbitools_VERSION_i386.deb and
# their -dbgsym packages (the programs' debugging symbols).
set -uo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-build/packages}
case $out in /*) ;; *) [ $# -ge 1 ] && out=$here/$out || out=$root/$out ;; esac

say() { echo "package: $*" >&2; }

for tool in dpkg-buildpackage dh lintian; do
  command -v "$tool" >/dev/null ||
    { say "$tool is missing: run bash tools/install-deps.sh"; exit 1; }
done

# One version for the build and the packages.
version=$(dpkg-parsechangelog -l debian/changelog -S Version) || exit 1
cmake_version=$(sed -n 's/^project(vbitools VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
if [ "$version" != "$cmake_version" ]; then
  say "debian/changelog says $version, CMakeLists.txt says ${cmake_version:-nothing}: make them agree"
  exit 1
fi

scratch=$(mktemp -d /tmp/vbitools-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# The sources as they stand, without builds: what git knows of (tracked or
# new, not ignored) in a clone, everything but build/ otherwise.
copy_tree() {
  mkdir -p "$1"
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
      tar --null -T - -cf - | tar -xf - -C "$1"
  else
    tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$1"
  fi
}

mkdir -p "$out" || exit 1
rm -f "$out"/vbitools_*.deb "$out"/vbitools-dbgsym_*.deb

status=0
changes=()
for arch in amd64 i386; do
  src=$scratch/$arch/vbitools-$version
  copy_tree "$src" || { say "could not copy the tree"; exit 1; }
  host=()
  [ "$arch" = "$(dpkg --print-architecture)" ] || host=(--host-arch "$arch")
  say "building vbitools_${version}_$arch.deb"
  # The suite is not run inside the package build (debian/rules): the
  # full test run does that.
  if ! (cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=2" \
        dpkg-buildpackage -b -us -uc -Pnocheck "${host[@]}") >"$scratch/$arch.log" 2>&1; then
    tail -40 "$scratch/$arch.log" >&2
    say "FAIL: the $arch package did not build (log above)"
    status=1
    continue
  fi
  cp "$scratch/$arch"/vbitools_"${version}"_"$arch".deb \
     "$scratch/$arch"/vbitools-dbgsym_"${version}"_"$arch".deb "$out"/ || status=1
  changes+=("$scratch/$arch/vbitools_${version}_$arch.changes")
done

# lintian checks the packages as Debian's archive would; informational
# tags are shown but do not fail the build.
for c in "${changes[@]}"; do
  say "lintian $(basename "$c")"
  lintian --fail-on error,warning --display-info "$c" >&2 ||
    { say "FAIL: lintian found errors or warnings in $(basename "$c")"; status=1; }
done

[ $status -eq 0 ] && say "packages in $out: $(cd "$out" && ls vbitools*_"$version"_*.deb | tr '\n' ' ')"
exit $status
