#!/usr/bin/env bash
# Checks the Debian packages that tools/package.sh built: what each holds,
# that the i386 one installs among this release's i386 packages, and then
# installs the amd64 one on this machine for a moment, runs every installed
# program once by its installed path, and purges it again, so that the
# machine is left as it was.  Needs root (apt-get).  The packages stay in
# PACKAGE_DIR.
#
# Usage: bash tests/ship/check-packages.sh [PACKAGE_DIR]   (default: build/packages)
set -uo pipefail
here=$(pwd)
cd "$(dirname "$0")/../.."
root=$(pwd)
dir=${1:-build/packages}
case $dir in /*) ;; *) [ $# -ge 1 ] && dir=$here/$dir || dir=$root/$dir ;; esac
work=$(mktemp -d)
status=0
installed=0
pulled=
fail() { echo "check-packages: FAIL: $*" >&2; status=1; }
note() { echo "check-packages: $*"; }
apt_opts=(-y -qq -o DPkg::Lock::Timeout=300)
export DEBIAN_FRONTEND=noninteractive

# purge [PACKAGE...]: vbitools and the packages named, with their
# configuration.
purge() {
  apt-get purge "${apt_opts[@]}" vbitools "$@" >"$work/purge.log" 2>&1 ||
    { cat "$work/purge.log" >&2; fail "apt-get purge vbitools $* failed; run it by hand"; }
}
cleanup() {
  # shellcheck disable=SC2086
  [ $installed -eq 1 ] && purge $pulled
  rm -rf "$work"
}
trap cleanup EXIT

programs=(captext capscope capscope-runin crestmake crestimg fbpalette vmemburst vbigen vbiscan vbicc devstandin)

# ELF machine of a file: 3 is i386, 62 is x86-64.
elf_machine() { od -An -tu2 -j18 -N2 "$1" | tr -d ' '; }

# check_package ARCH MULTIARCH MACHINE: checks the fields and the files of
# vbitools_*_ARCH.deb; sets deb to its path.
check_package() {
  local arch=$1 multiarch=$2 machine=$3
  deb=$(ls "$dir"/vbitools_*_"$arch".deb 2>/dev/null | head -1)
  [ -n "$deb" ] || { fail "no vbitools_*_$arch.deb in $dir (bash tools/package.sh)"; return 1; }
  ls "$dir"/vbitools-dbgsym_*_"$arch".deb >/dev/null 2>&1 ||
    fail "no vbitools-dbgsym_*_$arch.deb beside $(basename "$deb")"

  local got_arch depends
  got_arch=$(dpkg-deb -f "$deb" Architecture)
  depends=$(dpkg-deb -f "$deb" Depends)
  [ "$got_arch" = "$arch" ] || fail "$deb: Architecture is '$got_arch', not $arch"
  grep -Eq '(^|, )libc6( |,|$)' <<<"$depends" || fail "$deb: Depends lacks libc6: $depends"
  grep -Eq ':|lib32|libc6-i386' <<<"$depends" && fail "$deb: Depends names another architecture: $depends"
  grep -Eq '(^|, )libx11-6( |,|$)' <<<"$depends" || fail "$deb: the scopes need libx11-6: $depends"

  local files=$work/$arch.files
  dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$files"
  local x=$work/$arch-root
  dpkg-deb -x "$deb" "$x"
  local p
  for p in "${programs[@]}"; do
    grep -qx "/usr/bin/$p" "$files" || fail "$deb: /usr/bin/$p is missing"
    grep -qx "/usr/share/man/man1/$p.1.gz" "$files" || fail "$deb: no manual page for $p"
    if [ -f "$x/usr/bin/$p" ]; then
      [ "$(elf_machine "$x/usr/bin/$p")" = "$machine" ] || fail "$deb: /usr/bin/$p is not a $arch program"
    fi
  done
  grep -qx /usr/share/doc/vbitools/copyright "$files" || fail "$deb: no copyright file"
  grep -qx /usr/share/doc/vbitools/changelog.gz "$files" || fail "$deb: no changelog"
  local lib=/usr/lib/$multiarch/vbitools/libdevstandin.so
  if [ -f "$x$lib" ]; then
    [ "$(elf_machine "$x$lib")" = "$machine" ] || fail "$deb: $lib is not a $arch library"
  else
    fail "$deb: $lib is missing"
  fi
  # The workstation's package carries the 32-bit library for the target's
  # programs as well.
  local lib32=
  if [ "$arch" = amd64 ]; then
    lib32=${lib%/*}/32/libdevstandin.so
    if [ -f "$x$lib32" ]; then
      [ "$(elf_machine "$x$lib32")" = 3 ] || fail "$deb: $lib32 is not a 32-bit x86 library"
    else
      fail "$deb: $lib32 is missing"
    fi
  fi
  # Stripped: the debugging symbols are in the -dbgsym package.
  file -L "$x/usr/bin/"* "$x$lib" ${lib32:+"$x$lib32"} | grep -v ', stripped$' | grep . &&
    fail "$deb: unstripped files (above)"
  # Nothing but the toolkit: no tests, benchmarks, development files or
  # ldconfig triggers for the private library.
  local extra
  extra=$(ls "$x/usr/bin" | grep -vxF -f <(printf '%s\n' "${programs[@]}"))
  [ -z "$extra" ] || fail "$deb: unexpected programs in /usr/bin: $extra"
  grep -Eq '\.(a|h)$|gtest' "$files" && fail "$deb: holds development or test files"
  dpkg-deb -e "$deb" "$work/$arch-control"
  [ -e "$work/$arch-control/triggers" ] && fail "$deb: has triggers: $(cat "$work/$arch-control/triggers")"
  note "$(basename "$deb"): Architecture $got_arch; Depends: $depends; $(wc -l <"$files") entries"
}

check_package amd64 x86_64-linux-gnu 62
amd64_deb=$deb
check_package i386 i386-linux-gnu 3
i386_deb=$deb

# The i386 package's dependencies must resolve among the i386 packages of
# this Debian release (the machine has the i386 architecture enabled).
if [ -n "$i386_deb" ]; then
  cp "$i386_deb" "$work/"
  sim=$(apt-get install -s -o DPkg::Lock::Timeout=300 "$work/$(basename "$i386_deb")" 2>&1)
  grep -q '^Inst vbitools:i386 \|^Inst vbitools ' <<<"$sim" ||
    fail "apt cannot install the i386 package here: $(tail -5 <<<"$sim")"
fi

if [ -n "$amd64_deb" ] && [ "$(id -u)" -ne 0 ]; then
  fail "installing the package needs root"
elif [ -n "$amd64_deb" ]; then
  state=$(dpkg-query -W -f='${db:Status-Abbrev}' vbitools 2>/dev/null)
  case $state in
    '' | 'un '*) ;;
    rc*) note "purging the configuration that an earlier removal of vbitools left"; purge ;;
    *) fail "vbitools is installed on this machine ($state); the check would replace it: apt-get purge vbitools first"
       amd64_deb= ;;
  esac
fi
# The target's programs from the i386 package's tree, unpacked, not
# installed: captext through the package's own stand-in, and vmemburst whole
# under qemu's user-mode emulation, where the guest may map address 0.
if [ -n "$i386_deb" ]; then
  x=$work/i386-root
  standin=$x/usr/lib/i386-linux-gnu/vbitools/libdevstandin.so
  (cd "$work" && "$x/usr/bin/vbigen" -n 60 -t "The target's package." -o i386.vbi &&
   "$x/usr/bin/devstandin" --vbi i386.vbi "$x/usr/bin/captext" 2>i386-captions.txt)
  rc=$?
  grep -qx "the target's package. " "$work/i386-captions.txt" || rc=99
  if [ $rc -eq 0 ]; then note "i386 captext through the i386 devstandin: $(head -1 "$work/i386-captions.txt")"
  else fail "i386 captext through the i386 devstandin: status $rc: $(head -3 "$work/i386-captions.txt")"; fi
  if command -v qemu-i386-static >/dev/null; then
    truncate -s $((0xe8000000 + 131072)) "$work/i386.mem"
    qemu-i386-static -E LD_PRELOAD="$standin" -E STANDIN_MEM="$work/i386.mem" \
      "$x/usr/bin/vmemburst" 2>"$work/i386-vmem.err"
    rc=$?
    grep -q '^wrote 383909888 bytes to sequential video mem addresses\.$' "$work/i386-vmem.err" || rc=99
    if [ $rc -eq 0 ]; then note "i386 vmemburst under qemu-i386-static: $(grep -m1 bytes/sec "$work/i386-vmem.err" | tr '\t' ' ')"
    else fail "i386 vmemburst under qemu-i386-static: status $rc: $(cat "$work/i386-vmem.err")"; fi
  else
    fail "qemu-i386-static is missing (bash tools/install-deps.sh): the i386 vmemburst cannot run whole"
  fi
fi

# Every installed package and its state, to compare after the purge.
packages_now() { dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Abbrev}\n' | sort; }
packages_now >"$work/before.txt"

if [ -n "$amd64_deb" ]; then
  # apt reads the file as the unprivileged _apt user: give it a copy it
  # may read.
  pkgdir=$(mktemp -d /tmp/vbitools-deb.XXXXXX)
  cp "$amd64_deb" "$pkgdir/" && chmod 755 "$pkgdir" && chmod 644 "$pkgdir"/*.deb
  # What the install would bring in besides vbitools, to purge with it.
  pulled=$(apt-get install -s -o DPkg::Lock::Timeout=300 "$pkgdir/$(basename "$amd64_deb")" 2>/dev/null |
           awk '$1 == "Inst" && $2 != "vbitools" {print $2}')
  if apt-get install "${apt_opts[@]}" "$pkgdir/$(basename "$amd64_deb")" >"$work/apt.log" 2>&1; then
    installed=1
  else
    cat "$work/apt.log" >&2
    fail "apt-get install of $(basename "$amd64_deb") failed"
  fi
  rm -rf "$pkgdir"
fi

# ran NAME STATUS WANTED_STATUS DETAIL: one installed program's run.
ran() {
  if [ "$2" -eq "$3" ]; then note "installed $1: $4"; else fail "installed $1: status $2: $4"; fi
}

if [ $installed -eq 1 ]; then
  # Each installed program once, by its installed path, away from the tree.
  cd "$work"
  /usr/bin/vbigen -n 120 -t "Shipped and working." -o cap.vbi 2>vbigen.err
  ran vbigen $? 0 "wrote $(stat -c %s cap.vbi 2>/dev/null) bytes $(cat vbigen.err)"

  /usr/bin/devstandin --vbi cap.vbi /usr/bin/captext 2>captions.txt
  rc=$?
  # The first caption of a stream starts in lower case.
  grep -qx "shipped and working. " captions.txt || rc=99
  ran "captext through devstandin" $rc 0 "$(head -1 captions.txt)"
  msg=$(/usr/bin/devstandin /usr/bin/captext 2>&1)
  [ "$msg" = "open /dev/vbi0: No such file or directory" ] || fail "installed captext without a device: $msg"
  # The target's 32-bit captext, unpacked from the i386 package, through the
  # workstation's devstandin and its 32-bit library.
  if [ -n "$i386_deb" ]; then
    /usr/bin/devstandin --vbi cap.vbi "$work/i386-root/usr/bin/captext" 2>captions32.txt
    rc=$?
    grep -qx "shipped and working. " captions32.txt || rc=99
    ran "devstandin with the i386 captext" $rc 0 "$(head -1 captions32.txt)"
  fi

  # The scopes get past their device and stop at the missing display.
  for scope in capscope capscope-runin; do
    msg=$(env -u DISPLAY /usr/bin/devstandin --vbi cap.vbi "/usr/bin/$scope" 2>&1)
    rc=$?
    [ "$msg" = "DISPLAY not set." ] || rc=99
    ran "$scope without DISPLAY" $rc 1 "$msg"
  done

  /usr/bin/crestmake -m >palette.ppm 2>crestmake.err
  rc=$?
  [ "$(head -3 palette.ppm | tr '\n' ' ')" = "P3 240 1 255 " ] && [ "$(wc -l <palette.ppm)" -eq 243 ] || rc=99
  ran "crestmake -m" $rc 0 "$(wc -l <palette.ppm) lines of palette $(cat crestmake.err)"

  # A logo there and back: a 128x128 picture of grey steps.
  { printf 'P6\n128 128\n255\n'; for i in $(seq 0 127); do head -c 384 /dev/zero | tr '\0' "\\$(printf '%03o' $((i * 2)))"; done; } >logo.ppm
  /usr/bin/crestmake logo.ppm logo.crest 2>crest.err
  ran "crestmake" $? 0 "logo of $(stat -c %s logo.crest 2>/dev/null) bytes $(cat crest.err)"
  /usr/bin/crestimg logo.crest back.ppm 2>crest.err
  rc=$?
  [ "$(head -c 2 back.ppm 2>/dev/null)" = P6 ] && [ "$(stat -c %s back.ppm)" -eq $((36 + 128 * 128 * 3)) ] || rc=99
  ran "crestimg" $rc 0 "picture of $(stat -c %s back.ppm 2>/dev/null) bytes $(cat crest.err)"

  head -c 8192 /dev/zero >fb
  /usr/bin/devstandin --fb fb --cmap cmap /usr/bin/fbpalette 2>fb.err
  rc=$?
  [ -s cmap ] || rc=99
  ran "fbpalette through devstandin" $rc 0 "colour map of $(stat -c %s cmap 2>/dev/null) bytes $(cat fb.err)"

  # The window lies at physical 0xe8000000 and is mapped at virtual address
  # 0: kernels that refuse that mapping even to root make vmemburst say so.
  truncate -s $((0xe8000000 + 131072)) mem
  /usr/bin/devstandin --mem mem /usr/bin/vmemburst 2>vmem.err
  rc=$?
  if [ $rc -eq 1 ] && grep -q '^mmap 131072 bytes of /dev/mem at physical 0xe8000000' vmem.err; then
    note "installed vmemburst through devstandin: this kernel refuses address 0: $(cat vmem.err)"
  else
    grep -q 'Testing sequential video memory burst writes' vmem.err || rc=99
    ran "vmemburst through devstandin" $rc 0 "$(tr '\n' ' ' <vmem.err)"
  fi

  # The scanner reads the same capture and reports what captext printed.
  /usr/bin/vbiscan --json cap.vbi >scan.json 2>scan.err
  rc=$?
  grep -q '"shipped and working. "' scan.json || rc=99
  ran "vbiscan" $rc 0 "$(head -c 200 scan.json) $(cat scan.err)"

  # The caption decoder shows the caption the same capture carries.
  /usr/bin/vbicc cap.vbi >cc.txt 2>cc.err
  rc=$?
  grep -q '  Shipped and working\.$' cc.txt || rc=99
  ran "vbicc" $rc 0 "$(head -c 200 cc.txt) $(cat cc.err)"
  cd "$root"

  # What the install brought in besides vbitools goes with it.
  [ -n "$pulled" ] && note "purging what the install brought in: $(echo $pulled)"
  # shellcheck disable=SC2086
  purge $pulled
  installed=0
  left=$(dpkg -l vbitools 2>/dev/null | grep -E '^[a-z][a-z] +vbitools ')
  [ -z "$left" ] || fail "dpkg still lists vbitools after the purge: $left"
  [ -e /usr/bin/captext ] || [ -e /usr/lib/x86_64-linux-gnu/vbitools ] || [ -e /usr/share/doc/vbitools ] &&
    fail "files of vbitools are left after the purge"
  changed=$(diff "$work/before.txt" <(packages_now))
  [ -z "$changed" ] || fail "the installed packages differ from before the install: $changed"
  [ $status -eq 0 ] && note "purged: dpkg lists no vbitools, and the installed packages are as before"
fi

if [ $status -eq 0 ]; then
  note "packages OK"
else
  note "packages FAILED"
fi
exit $status
