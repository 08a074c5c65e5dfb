#!/usr/bin/env bash
# Runs the shell examples of the documents against a build, so that an
# example which stops working fails the test run instead of a reader.
#
# Every ```sh or ```bash block of each document runs, in document order, in
# its own `bash -e -o pipefail`, all blocks of one document in one scratch
# folder: a block may use the files that an earlier block of the same
# document made, as a reader following the text would.  The environment is
# the one the guide sets up for a build tree: the build's bin folder first
# on PATH, VBITOOLS_SRC naming the source tree.  DISPLAY is removed, so a
# block that quietly needs an X display fails rather than finds one.
#
# A ```text block that follows a block which ran (with only prose between)
# shows that block's output: each of its lines, trailing blanks aside and
# "..." lines skipped, must be a line of what the block printed.
#
# A block whose first line is "# needs: root", "# needs: device" or
# "# needs: X" (several may be named, comma-separated) is not run: it needs
# what a test machine cannot offer safely.  Any other "# needs:" is a typo
# and fails.
#
# A document named after --fresh is read as a newcomer reads it: from the
# top, in one shell with a clean environment (HOME and PATH=/usr/bin:/bin
# only), started at the top of a copy of the source tree whose build lies
# in build/default (the build under test); its blocks run one after the
# other in that shell, so that what one exports the next has, and the
# first that fails ends the reading.  Its set-up block needs root and is
# not run, except for its "export" lines, which run exactly as written: the
# build they stand on is the one under test.  Nothing but what the
# document put there is on PATH.
#
# Usage: doc-blocks.sh BINDIR SRCDIR [--fresh] DOCUMENT [[--fresh] DOCUMENT...]
set -uo pipefail
bindir=$(cd "${1:?usage: doc-blocks.sh BINDIR SRCDIR DOCUMENT...}" && pwd) || exit 2
srcdir=$(cd "${2:?usage: doc-blocks.sh BINDIR SRCDIR DOCUMENT...}" && pwd) || exit 2
shift 2
[ $# -gt 0 ] || { echo "usage: doc-blocks.sh BINDIR SRCDIR [--fresh] DOCUMENT..." >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0 ran=0 skipped=0

# run_block DOC LINE SCRIPT: runs one extracted block in the document's
# scratch folder and reports it when it fails.
run_block() {
  local doc=$1 line=$2 script=$3 out=$work/out rc
  (cd "$work/scratch" &&
   env -u DISPLAY HOME="$work/scratch" PATH="$bindir:$PATH" VBITOOLS_SRC="$srcdir" \
     timeout 300 bash -e -o pipefail "$script") >"$out" 2>&1 </dev/null
  rc=$?
  ran=$((ran + 1))
  shown=$out
  if [ $rc -ne 0 ]; then
    shown=
    status=1
    echo "doc-blocks: FAIL: $doc:$line: the block ended with status $rc" >&2
    sed 's/^/    | /' "$script" >&2
    echo "  its output (last 30 lines):" >&2
    tail -n 30 "$out" | sed 's/^/    > /' >&2
  fi
}

# check_shown DOC LINE TEXT: the lines of a ```text block must be lines of
# the output of the block before it ($shown).
check_shown() {
  local doc=$1 line=$2 want missing=
  [ -n "$shown" ] || return 0
  sed 's/[[:space:]]*$//' "$shown" >"$work/got"
  while IFS= read -r want; do
    [ "$want" = "..." ] && continue
    grep -qxF -- "$want" "$work/got" || missing+="    $want"$'\n'
  done < <(sed 's/[[:space:]]*$//' "$3")
  if [ -n "${missing:-}" ]; then
    status=1
    echo "doc-blocks: FAIL: $doc:$line: the output shown is not what the block above prints; missing:" >&2
    printf '%s' "$missing" >&2
    echo "  it printed (first 30 lines):" >&2
    head -n 30 "$work/got" | sed 's/^/    > /' >&2
  fi
  shown=
}

# fresh_top: a copy of the source tree's top for a fresh reading, its
# entries linked (so that what the blocks write stays in the scratch
# folder), with the build under test as build/default.
fresh_top() {
  local top=$work/top entry
  rm -rf "$top" "$work/home" && mkdir -p "$top/build/default" "$work/home"
  for entry in "$srcdir"/* "$srcdir"/.[!.]*; do
    [ -e "$entry" ] && [ "$(basename "$entry")" != build ] && ln -s "$entry" "$top/"
  done
  ln -s "$bindir" "$top/build/default/bin"
}

# session_add N SCRIPT: appends block N to the fresh reading's session; its
# output goes to out-N, and progress records that it started.
session_add() {
  printf 'echo %d >>%q\nexec >%q 2>&1\n. %q\n' "$1" "$work/progress" "$work/out-$1" "$2" >>"$work/session"
  session_blocks+=("$1")
}

# run_session DOC: reads the document in one clean shell, then reports the
# block that failed and checks the ```text blocks of those that ran.
run_session() {
  local doc=$1 rc last n line
  (cd "$work/top" && timeout 600 env -i HOME="$work/home" PATH=/usr/bin:/bin \
     bash -e -o pipefail "$work/session") </dev/null >"$work/session-out" 2>&1
  rc=$?
  last=$(tail -n 1 "$work/progress" 2>/dev/null)
  for n in "${session_blocks[@]}"; do
    [ -n "$last" ] && [ "$n" -le "$last" ] || { echo "doc-blocks: FAIL: $doc:$n: not run: a block before it failed" >&2; continue; }
    ran=$((ran + 1))
    if [ "$n" = "$last" ] && [ $rc -ne 0 ]; then
      status=1
      echo "doc-blocks: FAIL: $doc:$n: the block ended with status $rc (read from the top in a clean shell)" >&2
      sed 's/^/    | /' "$work/block-$n.sh" >&2
      echo "  its output (last 30 lines):" >&2
      tail -n 30 "$work/out-$n" | sed 's/^/    > /' >&2
    fi
  done
  [ -n "$last" ] || { status=1; echo "doc-blocks: FAIL: $doc: the session did not start:" >&2; cat "$work/session-out" >&2; }
  for line in "${!session_checks[@]}"; do
    n=${session_checks[$line]}
    if [ -n "$last" ] && { [ "$n" -lt "$last" ] || { [ "$n" = "$last" ] && [ $rc -eq 0 ]; }; }; then
      shown=$work/out-$n
      check_shown "$doc" "$line" "$work/text-$line"
    fi
  done
}

# needs_of SCRIPT: prints what the block's "# needs:" line asks for, if any.
needs_of() {
  sed -n '1{s/^#[[:space:]]*needs:[[:space:]]*//p}' "$1"
}

fresh=0
for doc in "$@"; do
  [ "$doc" = --fresh ] && { fresh=1; continue; }
  [ -f "$doc" ] || { echo "doc-blocks: FAIL: $doc: no such document" >&2; status=1; continue; }
  rm -rf "$work/scratch" && mkdir "$work/scratch"
  name=${doc#"$srcdir"/}
  n=0 state=out indent= start=0 script= shown= last_block=
  session_blocks=() && declare -A session_checks=() && : >"$work/session" && rm -f "$work/progress"
  [ $fresh -eq 1 ] && fresh_top
  while IFS= read -r text || [ -n "$text" ]; do
    n=$((n + 1))
    case $state in
    out)
      if [[ $text =~ ^([[:space:]]*)\`\`\`(sh|bash)[[:space:]]*$ ]]; then
        state=shell indent=${BASH_REMATCH[1]} start=$n script=$work/block-$n.sh
        : >"$script"
        shown=
      elif [[ $text =~ ^([[:space:]]*)\`\`\`text[[:space:]]*$ && -n $shown$last_block ]]; then
        state=text indent=${BASH_REMATCH[1]} start=$n
        : >"$work/text"
      elif [[ $text =~ ^[[:space:]]*\`\`\` ]]; then
        state=other shown= last_block=
      fi ;;
    other)
      [[ $text =~ ^[[:space:]]*\`\`\`[[:space:]]*$ ]] && state=out ;;
    text)
      if [[ $text =~ ^[[:space:]]*\`\`\`[[:space:]]*$ ]]; then
        state=out
        if [ $fresh -eq 1 ]; then
          cp "$work/text" "$work/text-$start" && session_checks[$start]=$last_block
        else
          check_shown "$name" "$start" "$work/text"
        fi
        last_block=
      else
        printf '%s\n' "${text#"$indent"}" >>"$work/text"
      fi ;;
    shell)
      if [[ $text =~ ^[[:space:]]*\`\`\`[[:space:]]*$ ]]; then
        state=out
        needs=$(needs_of "$script")
        last_block=
        if [ -z "$needs" ] && [ $fresh -eq 1 ]; then
          session_add "$start" "$script"
          last_block=$start
        elif [ -z "$needs" ]; then
          run_block "$name" "$start" "$script"
        elif [ $fresh -eq 1 ] && [[ $needs =~ root ]] && grep -q '^export ' "$script"; then
          # The set-up's environment, exactly as written; its build is the
          # one under test.
          grep '^export ' "$script" >"$work/block-$start-env.sh"
          session_add "$start" "$work/block-$start-env.sh"
        elif [[ $needs =~ ^(root|device|X)([[:space:]]*,[[:space:]]*(root|device|X))*[[:space:]]*$ ]]; then
          skipped=$((skipped + 1))
        else
          echo "doc-blocks: FAIL: $name:$start: unknown need '$needs' (root, device or X)" >&2
          status=1
        fi
      else
        # Blocks inside list items are indented; the fence's indentation
        # is not part of the commands.
        printf '%s\n' "${text#"$indent"}" >>"$script"
      fi ;;
    esac
  done <"$doc"
  if [ "$state" != out ]; then
    echo "doc-blocks: FAIL: $name:$start: the block is never closed" >&2
    status=1
  fi
  [ $fresh -eq 1 ] && [ ${#session_blocks[@]} -gt 0 ] && run_session "$name"
  unset session_checks
  fresh=0
done

echo "doc-blocks: $ran blocks run, $skipped marked as needing root, a device or X"
[ $ran -gt 0 ] || { echo "doc-blocks: FAIL: no block found" >&2; status=1; }
exit $status
