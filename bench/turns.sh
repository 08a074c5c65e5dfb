# Sourced by the benchmarks that time commands side by side.  The commands
# take turns, $1 rounds, so that a busy machine weighs on each alike; each
# command is an array named cmd_KEY, and its times (wall, user, system in
# seconds) go to DIR/KEY.times.
# Usage: take_turns RUNS DIR KEY...; then figures RUNS DIR KEY prints the
# best wall time and the mean CPU time (user + system) of KEY's runs.

# One run of cmd_KEY, timed by bash itself to the millisecond
# (/usr/bin/time rounds to 10 ms, a quarter of what captext takes on the
# benchmarks' captures).
run_timed() {  # KEY DIR
  local -n cmd=cmd_$1
  local TIMEFORMAT='%3R %3U %3S'
  { time "${cmd[@]}" >/dev/null 2>&1; } 2>>"$2/$1.times"
}

take_turns() {  # RUNS DIR KEY...
  local runs=$1 dir=$2 k
  shift 2
  for _ in $(seq "$runs"); do
    for k in "$@"; do
      run_timed "$k" "$dir"
    done
  done
}

figures() {  # RUNS DIR KEY
  awk -v n="$1" '{ c += $2 + $3; if (NR == 1 || $1 < w) w = $1 } END { printf "%.3f %.4f\n", w, c / n }' "$2/$3.times"
}

ratio() { echo "$1 / $2" | bc -l; }
