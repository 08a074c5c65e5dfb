#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need,
# and only those that are missing.  Safe to run again; needs root.
set -euo pipefail

pkgs=(
  cmake ninja-build g++ g++-multilib googletest
  libx11-dev libx11-dev:i386 libxtst-dev libxtst-dev:i386
  xvfb x11-utils netpbm imagemagick
  clang libclang-rt-14-dev
)

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing, run as root to install them: ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}" >&2
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
