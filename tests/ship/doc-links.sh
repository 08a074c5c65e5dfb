#!/usr/bin/env bash
# Checks the links of the documents: every relative link or picture must
# name a file of the tree, and every #anchor a heading of the document it
# points into (anchors made the way the project's forge makes them: lower
# case, punctuation dropped, spaces as hyphens, "-1", "-2" for repeats).
# Links to other sites are left alone.
# Usage: doc-links.sh DOCUMENT...
set -uo pipefail
[ $# -gt 0 ] || { echo "usage: doc-links.sh DOCUMENT..." >&2; exit 2; }
status=0 checked=0
fail() { echo "doc-links: FAIL: $*" >&2; status=1; }

# anchors DOCUMENT: the anchor of every heading outside code blocks.
anchors() {
  awk '
    /^[[:space:]]*```/ { code = !code; next }
    !code && /^#+[[:space:]]/ {
      h = $0
      sub(/^#+[[:space:]]+/, "", h)
      h = tolower(h)
      gsub(/[^a-z0-9 _-]/, "", h)
      gsub(/ /, "-", h)
      if (h in seen) { seen[h]++; print h "-" seen[h] } else { seen[h] = 0; print h }
    }' "$1"
}

for doc in "$@"; do
  [ -f "$doc" ] || { fail "$doc: no such document"; continue; }
  dir=$(dirname "$doc")
  # Links outside code blocks and code spans: [text](target) and ![alt](target).
  while IFS=: read -r line target; do
    checked=$((checked + 1))
    case $target in
      http://* | https://* | mailto:*) continue ;;
    esac
    file=${target%%#*} anchor=
    [[ $target == *"#"* ]] && anchor=${target#*#}
    path=$doc
    if [ -n "$file" ]; then
      path=$dir/$file
      [ -e "$path" ] || { fail "$doc:$line: $target: no such file"; continue; }
    fi
    if [ -n "$anchor" ]; then
      [[ $path == *.md ]] && anchors "$path" | grep -qxF -- "$anchor" ||
        fail "$doc:$line: $target: no such heading"
    fi
  done < <(awk '
    /^[[:space:]]*```/ { code = !code; next }
    !code {
      s = $0
      gsub(/`[^`]*`/, "", s)
      while (match(s, /\]\([^) ]+\)/)) {
        print NR ":" substr(s, RSTART + 2, RLENGTH - 3)
        s = substr(s, RSTART + RLENGTH)
      }
    }' "$doc")
done
echo "doc-links: $checked links in $# documents"
exit $status
