#!/usr/bin/env bash
# Lints the manual pages:
#  - every program that ships has a page, titled after it and carrying the
#    toolkit's version;
#  - every page renders without a single warning from groff (all warnings
#    on, terminal output) and from mandoc's checker;
#  - the rendered text holds no special character that a typo makes (\(tm
#    for \(mu gives a trade mark sign where a multiplication was meant);
#  - in OPTIONS, EXIT STATUS and DIAGNOSTICS the text of an entry begins a
#    sentence: a tag holds one line, so text that begins in lower case is
#    the rest of a tag that ran into it (a second tag wants .TQ);
#  - each tool that answers --help documents exactly the options its
#    summary lists, and its synopsis names no other.
# Usage: lint-man.sh MANDIR BINDIR VERSION
set -uo pipefail
dir=${1:?usage: lint-man.sh MANDIR BINDIR VERSION}
bin=${2:?usage: lint-man.sh MANDIR BINDIR VERSION}
version=${3:?usage: lint-man.sh MANDIR BINDIR VERSION}
status=0
fail() { echo "lint-man: $*" >&2; status=1; }

for prog in captext capscope capscope-runin crestmake crestimg fbpalette vmemburst vbigen vbiscan vbicc devstandin; do
  [ -f "$dir/$prog.1" ] || fail "$prog.1 is missing"
done

# Characters a page may render beyond ASCII: groff's hyphenation hyphen,
# bullets, dashes, quotes, and the signs a measurement needs.
allowed='‐•–—‘’“”…×÷±−µ°≤≥≈→←·²³½'

render() { groff -man -Tutf8 -P-cbou "$1" 2>/dev/null; }

# The text of section $2 of rendered page $1.
section() { render "$1" | awk -v s="$2" '/^[A-Z]/ { on = ($0 == s); next } on'; }

# The options named in the tags of a rendered OPTIONS section: a tag is a
# line indented by 7 that follows a blank line or another tag; a tag
# shorter than the indent shares its line with the text, after two spaces.
page_options() {
  section "$1" OPTIONS | awk '
    BEGIN { prev_blank_or_tag = 1 }
    /^       -/ && prev_blank_or_tag { sub(/^ +/, ""); split($0, t, /  +/); print t[1]; tag = 1 }
    { prev_blank_or_tag = ($0 ~ /^ *$/) || tag; tag = 0 }' | options_in
}
# The options of a --help summary: lines that begin, indented, with a dash;
# the tag ends at the first run of two spaces.
help_options() {
  awk '/^[ \t]+-/ { sub(/^[ \t]+/, ""); split($0, t, /  +/); print t[1] }' | options_in
}
options_in() { grep -oE -- '(^|[ ,[])--?[A-Za-z][-A-Za-z0-9]*' | sed 's/^[ ,[]//' | sort -u; }

for page in "$dir"/*.1; do
  name=$(basename "$page" .1)
  # The page must describe itself: its title names the program, its footer
  # the toolkit's version.
  head -1 "$page" | tr -d '\\' | grep -q "^\.TH ${name^^} 1 " || fail "$page: .TH does not name ${name^^}"
  head -1 "$page" | grep -qF "\"vbitools $version\"" || fail "$page: .TH does not say \"vbitools $version\""
  out=$(groff -man -Tutf8 -ww -z "$page" 2>&1); rc=$?
  [ $rc -eq 0 ] && [ -z "$out" ] || fail "$page: groff: $out"
  out=$(mandoc -T lint "$page" 2>&1); rc=$?
  [ $rc -eq 0 ] && [ -z "$out" ] || fail "$page: $out"
  for sec in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES; do
    grep -q "^\.SH \"\?$sec\"\?\$" "$page" || fail "$page: no $sec section"
  done
  odd=$(render "$page" | LC_ALL=C.UTF-8 grep -nP "[^\\x00-\\x7F$allowed]")
  [ -z "$odd" ] || fail "$page: unexpected characters in the rendered text: $odd"
  out=$(awk '
    /^\.SH/ { sec = $0; gsub(/^\.SH +|"/, "", sec); state = 0; next }
    sec != "OPTIONS" && sec != "EXIT STATUS" && sec != "DIAGNOSTICS" { next }
    /^\.TP/ { state = 1; next }
    state == 1 { state = 2; tag = $0; next }
    state == 2 && /^\.TQ/ { state = 1; next }
    state == 2 {
      state = 0
      if ($0 ~ /^[a-z]/) printf "line %d: the text after %s begins in lower case: %s\n", FNR, tag, $0
    }' "$page")
  [ -z "$out" ] || fail "$page: $out"
done

# The tools with an option summary, printed by --help on standard output.
for prog in vbigen devstandin vbiscan vbicc; do
  page=$dir/$prog.1
  if [ ! -x "$bin/$prog" ]; then
    [ -f "$page" ] && fail "$bin/$prog is missing: build it first"
    continue
  fi
  [ -f "$page" ] || continue
  help=$(timeout 60 "$bin/$prog" --help </dev/null 2>/dev/null)
  in_help=$(help_options <<<"$help")
  [ -n "$in_help" ] || { fail "$prog --help lists no options"; continue; }
  in_page=$(page_options "$page")
  only=$(comm -23 <(echo "$in_help") <(echo "$in_page") | tr '\n' ' ')
  [ -z "$only" ] || fail "$page: OPTIONS lacks what $prog --help lists: $only"
  only=$(comm -13 <(echo "$in_help") <(echo "$in_page") | tr '\n' ' ')
  [ -z "$only" ] || fail "$page: OPTIONS has what $prog --help does not list: $only"
  only=$(comm -13 <(echo "$in_help") <(section "$page" SYNOPSIS | options_in) | tr '\n' ' ')
  [ -z "$only" ] || fail "$page: SYNOPSIS names what $prog --help does not list: $only"
done

[ $status -eq 0 ] && echo "lint-man: $(ls "$dir"/*.1 | wc -l) pages clean"
exit $status
