#!/usr/bin/env bash
# Lints the manual pages: every program that ships has a page, and every
# page renders without a single warning from groff (all warnings on) and
# from mandoc's checker.  Usage: lint-man.sh MANDIR
set -uo pipefail
dir=${1:?usage: lint-man.sh MANDIR}
status=0
fail() { echo "lint-man: $*" >&2; status=1; }

for prog in captext capscope capscope-runin crestmake crestimg fbpalette vmemburst vbigen vbiscan devstandin; do
  [ -f "$dir/$prog.1" ] || fail "$prog.1 is missing"
done

for page in "$dir"/*.1; do
  name=$(basename "$page" .1)
  # The page must describe itself: its title and NAME line name the program.
  head -1 "$page" | tr -d '\\' | grep -q "^\.TH ${name^^} 1 " || fail "$page: .TH does not name ${name^^}"
  out=$(groff -man -ww -z "$page" 2>&1); rc=$?
  [ $rc -eq 0 ] && [ -z "$out" ] || fail "$page: groff: $out"
  out=$(mandoc -T lint "$page" 2>&1); rc=$?
  [ $rc -eq 0 ] && [ -z "$out" ] || fail "$page: $out"
  for sec in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES; do
    grep -q "^\.SH \"\?$sec\"\?\$" "$page" || fail "$page: no $sec section"
  done
done
[ $status -eq 0 ] && echo "lint-man: $(ls "$dir"/*.1 | wc -l) pages clean"
exit $status
