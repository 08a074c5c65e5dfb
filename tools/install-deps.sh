#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need
# (with what they recommend: Xvfb needs the core fonts, for one),
# and only those that are missing.  Safe to run again; needs root.
set -euo pipefail

pkgs=(
  cmake ninja-build g++ g++-multilib googletest
  libx11-dev libx11-dev:i386 libxtst-dev libxtst-dev:i386
  xvfb xfonts-base x11-utils netpbm imagemagick
  clang libclang-rt-14-dev
  qemu-user-static
  groff-base mandoc dpkg-dev file libstdc++6:i386
  gnuplot-nox
  libpng-dev libpng-dev:i386 nlohmann-json3-dev
)

# 32-bit x86 programs run natively where the kernel has IA32 emulation; on
# a kernel without it they run under qemu's user-mode emulation, registered
# with binfmt_misc so that every exec of an i386 program goes through it.
enable_i386() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 && return 0
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
  if [ -w /proc/sys/fs/binfmt_misc/register ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >/proc/sys/fs/binfmt_misc/register
  fi
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 ||
    echo "install-deps: this machine cannot run 32-bit x86 programs" >&2
}

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  enable_i386
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing, run as root to install them: ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}" >&2
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
enable_i386
