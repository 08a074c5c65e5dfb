#!/usr/bin/env bash
# Builds and runs slicer-sweep, then writes its table into docs/decode-rate.md
# (below the marker line; the text above it is kept) and plots the shares to
# docs/decode-rate.png with gnuplot.
# Usage: bash bench/decode-rate.sh [build folder, default build/default] [pairs per setting, default 1000]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
pairs=${2:-1000}
doc=docs/decode-rate.md
png=docs/decode-rate.png
marker='<!-- The table below is written by bench/decode-rate.sh. -->'

command -v gnuplot >/dev/null || { echo "decode-rate.sh: gnuplot missing; run tools/install-deps.sh" >&2; exit 1; }
if [ ! -f "$build/build.ninja" ]; then
  [ "$build" = build/default ] || { echo "decode-rate.sh: $build is not configured" >&2; exit 1; }
  cmake --preset default >/dev/null
fi
cmake --build "$build" --target slicer-sweep -j2 >/dev/null

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

t0=$(date +%s.%N)
"$build/bin/slicer-sweep" --pairs "$pairs" --data "$tmp/sweep.dat" >"$tmp/table.md"
t1=$(date +%s.%N)
awk -v a="$t0" -v b="$t1" 'BEGIN { printf "decode-rate.sh: sweep took %.1f s\n", b - a }' >&2

# Keep the text above the marker, put the fresh table below it.
if [ -f "$doc" ] && grep -qxF "$marker" "$doc"; then
  sed "/^$(printf '%s' "$marker" | sed 's/[][\/.*^$]/\\&/g')\$/q" "$doc" >"$tmp/doc.md"
else
  printf '# Decode rate of the caption slicers\n\n%s\n' "$marker" >"$tmp/doc.md"
fi
{
  printf '\n%d pairs per setting; shares in per cent of the pairs sent. Columns: data level,\n' "$pairs"
  printf 'timing offset in samples, noise standard deviation in levels; averaging = `captext`,\n'
  printf 'level = `capscope` (smoothed line), run-in = `capscope-runin`, integrating = the\n'
  printf 'workstation tools'"'"' slicer (`IntegratingSlicer`).\n\n'
  cat "$tmp/table.md"
} >>"$tmp/doc.md"
mv "$tmp/doc.md" "$doc"

# Data blocks (gnuplot's index) in the order of the sweep's variants:
# 0 default (130, +0), 1 offset -20, 2 offset +10, 3 offset +20,
# 4 offset -60, 5 offset +60, 6 data 100, 7 data 200, 8 data 200 offset +20.
# Columns: 3 noise; 4-6 averaging, 7-9 level, 10-12 run-in, 13-15 integrating
# (ok, refused, wrong).
gnuplot <<EOF
set terminal pngcairo size 1400,1400 font "sans,10"
set output "$png"
set multiplot layout 3,2 title "Caption slicers on generated line-21 pairs ($pairs pairs per point; blanking level 60)"
set xrange [0:80]
set yrange [-2:102]
set xtics 10
set ytics 20
set grid
set xlabel "noise (standard deviation, levels of 256)"
set ylabel "share of pairs (%)"
set key outside right top vertical Left reverse samplen 3

set title "Default signal (data level 130, offset 0)"
plot "$tmp/sweep.dat" index 0 using 3:4 with linespoints lw 2 lc rgb "#1f77b4" pt 7 title "captext ok", \
     "" index 0 using 3:6 with lines dt 3 lw 2 lc rgb "#1f77b4" title "captext wrong", \
     "" index 0 using 3:7 with linespoints lw 2 lc rgb "#d62728" pt 5 title "capscope ok", \
     "" index 0 using 3:9 with lines dt 3 lw 2 lc rgb "#d62728" title "capscope wrong", \
     "" index 0 using 3:10 with linespoints lw 2 lc rgb "#2ca02c" pt 9 title "capscope-runin ok", \
     "" index 0 using 3:12 with lines dt 3 lw 2 lc rgb "#2ca02c" title "capscope-runin wrong", \
     "" index 0 using 3:13 with linespoints lw 2.5 lc rgb "black" pt 11 title "integrating ok", \
     "" index 0 using 3:14 with lines dt 2 lw 2 lc rgb "black" title "integrating refused", \
     "" index 0 using 3:15 with lines dt 3 lw 2.5 lc rgb "black" title "integrating wrong"

set ylabel "decoded correctly (%)"
do for [s = 0:3] {
  col = 4 + 3 * s
  name = s == 0 ? "captext (averaging slicer)" : s == 1 ? "capscope (level slicer, smoothed line)" : s == 2 ? "capscope-runin (run-in timing slicer)" : "integrating slicer (workstation tools)"
  set title name . ": correct share per signal"
  plot "$tmp/sweep.dat" index 0 using 3:col with linespoints lw 1.5 lc rgb "black" pt 7 title "data 130, offset 0", \
       "" index 1 using 3:col with linespoints lw 1.5 lc rgb "#1f77b4" pt 4 title "data 130, offset -20", \
       "" index 2 using 3:col with linespoints lw 1.5 lc rgb "#17becf" pt 6 title "data 130, offset +10", \
       "" index 3 using 3:col with linespoints lw 1.5 lc rgb "#9467bd" pt 8 title "data 130, offset +20", \
       "" index 4 using 3:col with linespoints lw 1.5 dt 4 lc rgb "#2ca02c" pt 1 title "data 130, offset -60", \
       "" index 5 using 3:col with linespoints lw 1.5 dt 4 lc rgb "#bcbd22" pt 2 title "data 130, offset +60", \
       "" index 6 using 3:col with linespoints lw 1.5 lc rgb "#ff7f0e" pt 10 title "data 100, offset 0", \
       "" index 7 using 3:col with linespoints lw 1.5 lc rgb "#d62728" pt 12 title "data 200, offset 0", \
       "" index 8 using 3:col with linespoints lw 1.5 dt 2 lc rgb "#8c564b" pt 14 title "data 200, offset +20"
}

set title "integrating slicer: wrong share per signal"
set ylabel "decoded wrongly (%)"
set yrange [0:2]
set ytics 0.5
plot "$tmp/sweep.dat" index 0 using 3:15 with linespoints lw 1.5 lc rgb "black" pt 7 title "data 130, offset 0", \
     "" index 1 using 3:15 with linespoints lw 1.5 lc rgb "#1f77b4" pt 4 title "data 130, offset -20", \
     "" index 2 using 3:15 with linespoints lw 1.5 lc rgb "#17becf" pt 6 title "data 130, offset +10", \
     "" index 3 using 3:15 with linespoints lw 1.5 lc rgb "#9467bd" pt 8 title "data 130, offset +20", \
     "" index 4 using 3:15 with linespoints lw 1.5 dt 4 lc rgb "#2ca02c" pt 1 title "data 130, offset -60", \
     "" index 5 using 3:15 with linespoints lw 1.5 dt 4 lc rgb "#bcbd22" pt 2 title "data 130, offset +60", \
     "" index 6 using 3:15 with linespoints lw 1.5 lc rgb "#ff7f0e" pt 10 title "data 100, offset 0", \
     "" index 7 using 3:15 with linespoints lw 1.5 lc rgb "#d62728" pt 12 title "data 200, offset 0", \
     "" index 8 using 3:15 with linespoints lw 1.5 dt 2 lc rgb "#8c564b" pt 14 title "data 200, offset +20"
unset multiplot
EOF
echo "decode-rate.sh: wrote $doc and $png" >&2
