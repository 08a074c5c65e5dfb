#!/usr/bin/env bash
# Shows that lint-man.sh catches the faults it is there for: each case
# spoils one copy of the pages and expects the check to name the fault.
# Usage: lint-man-faults.sh MANDIR BINDIR VERSION
set -uo pipefail
here=$(dirname "$0")
dir=${1:?usage: lint-man-faults.sh MANDIR BINDIR VERSION} bin=${2:?} version=${3:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# expect NAME PAGE SED-SCRIPT MESSAGE: spoil a copy of PAGE, alone in its
# folder, with SED-SCRIPT; the check must fail and print MESSAGE.
expect() {
  rm -rf "$work/man"; mkdir "$work/man"; cp "$dir/$2" "$work/man/"
  sed -i "$3" "$work/man/$2"
  if cmp -s "$dir/$2" "$work/man/$2"; then
    echo "lint-man-faults: $1: the edit did not apply to $2" >&2; status=1; return
  fi
  out=$(bash "$here/lint-man.sh" "$work/man" "$bin" "$version" 2>&1)
  if [ $? -eq 0 ] || ! grep -qF -- "$4" <<<"$out"; then
    echo "lint-man-faults: $1: not caught; the check said: $out" >&2; status=1
  fi
}

# A trade mark sign where a multiplication sign was meant.
expect glyph vbigen.1 '0,/^Each block is 65536/s//Each block is 32\\(tm2048 =/' "unexpected characters"
# A second message written on the line after a tag, without .TQ: it runs
# into the first entry's text.
expect run-together vbigen.1 '0,/^\.TQ$/s//or/' "begins in lower case"
# An option the tool takes but the page does not describe, and one the page
# describes but the tool does not take.
expect missing-option vbigen.1 's/^\.BI \\-\\-seed " n"$/.BI \\-\\-sed " n"/' "OPTIONS lacks what vbigen --help lists: --seed"
expect extra-option vbigen.1 's/^\.BI \\-\\-seed " n"$/.BI \\-\\-sed " n"/' "OPTIONS has what vbigen --help does not list: --sed"
# A page of another version.
expect version crestimg.1 '1s/"vbitools [^"]*"/"vbitools 0.0.9"/' "does not say \"vbitools $version\""
# A warning from groff's terminal output.
expect warning vbigen.1 '0,/^\.PP$/s//.PP\n.ZZ unknown request/' "groff"
[ $status -eq 0 ] && echo "lint-man-faults: every fault caught"
exit $status
