#!/usr/bin/env bash
# Makes docs/capscope-annotated.png from docs/capscope.png: the scope's
# picture with every element named, for the user's guide.  The slicer's
# marks stand where the level slicer puts them for a run-in whose crests
# stay below 139 (the usual case): the peak marker at x 24, the start bit
# at x 263, data bit k at x (583 + 57 k) / 2; whether a bit is 1 or 0 is
# read off the picture (a 1 bit's line reaches the top band).
set -euo pipefail
cd "$(dirname "$0")"
in=capscope.png
out=capscope-annotated.png

pixel() { convert "$in" -format "%[fx:int(255*p{$1,$2}.r)],%[fx:int(255*p{$1,$2}.g)],%[fx:int(255*p{$1,$2}.b)]" info:; }
white() { [ "$(pixel "$1" "$2")" = "255,255,255" ]; }

one= zero=
for k in $(seq 0 15); do
  x=$(( (583 + 57 * k) / 2 ))
  if white "$x" 40; then [ -n "$one" ] || one=$x; else [ -n "$zero" ] || zero=$x; fi
done
# The threshold level: where a 0 bit's line begins.
thr=
for y in $(seq 30 255); do
  if white "$zero" "$y"; then thr=$y; break; fi
done
[ -n "$one" ] && [ -n "$zero" ] && [ -n "$thr" ] || { echo "annotate-scope.sh: no 1 and 0 bits found" >&2; exit 1; }

top=110 bottom=110
Y() { echo $(( $1 + top )); }   # picture y to canvas y
label() {  # text, x and y where its arrow starts (text above it in the top
           # margin, below it in the bottom one), picture point px py
  local ty=$(( $3 < top ? $3 - 16 : $3 + 2 ))
  printf '%s\n' -draw "line $2,$3 $4,$(Y "$5")" -annotate "+$(( $2 - 8 ))+$ty" "$1"
}
args=()
add() { local IFS=$'\n'; for a in $(label "$@"); do args+=("$a"); done; }
add "status: 0 and the frame counter" 14 50 24 14
add "caption ticker" 190 24 200 14
add "run-in peak marker (light blue)" 40 90 24 80
add "start bit found (turns white)" 250 66 263 40
add "a 1 bit: from the top down to the threshold" 460 40 "$one" 45
add "error count: lines that did not decode" 14 $(( 256 + top + 70 )) 24 240
add "raw samples (pink), smoothed line (white)" 150 $(( 256 + top + 40 )) 150 200
add "a 0 bit: from the threshold down" 420 $(( 256 + top + 20 )) "$zero" 240
add "threshold level" 650 $(( 256 + top + 45 )) 760 "$thr"

convert "$in" -background '#202020' -gravity north -splice 0x$top -gravity south -splice 0x$bottom \
  -gravity northwest -stroke '#ffd000' -fill none \
  -draw "stroke-dasharray 4 4 line 0,$(Y "$thr") 799,$(Y "$thr")" \
  -fill '#ffd000' -stroke '#ffd000' -strokewidth 1 -pointsize 13 \
  "${args[@]}" "$out"
echo "docs/$out written"
