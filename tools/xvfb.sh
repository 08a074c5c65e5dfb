# Sourced by the benchmark and picture scripts: a private Xvfb for one run,
# and the programs the script runs on it.
#   xvfb_start FOLDER   starts it, sets xvfb_pid and exports DISPLAY
#   xvfb_stop           ends it and waits for it (safe to call when none was
#                       started; always succeeds, so that a cleanup under
#                       set -e goes on to remove its folder)
#   group_stop PID      ends the process group that PID leads (a runner
#                       started with setsid and the program it runs: ending
#                       the runner alone would leave the program running)
#   on_exit FUNCTION    runs FUNCTION once when the script ends, however it
#                       ends (HUP, INT and TERM included), without set -e,
#                       and keeps the script's exit status
# Xvfb picks a free display number itself and writes it to descriptor 3;
# -noreset keeps it from resetting when the first client leaves.
xvfb_pid=
xvfb_start() {
  Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp -noreset 3>"$1/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 200); do [ -s "$1/display" ] && break; sleep 0.05; done
  [ -s "$1/display" ] || { echo "Xvfb did not start" >&2; return 1; }
  DISPLAY=":$(head -n1 "$1/display")"
  export DISPLAY
}
xvfb_stop() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  xvfb_pid=
  return 0
}
group_stop() {
  if [ -n "${1:-}" ]; then
    kill -CONT -- "-$1" 2>/dev/null
    kill -- "-$1" 2>/dev/null
    wait "$1" 2>/dev/null
  fi
  return 0
}
on_exit() {
  trap "status=\$?; set +e; $1; exit \$status" EXIT
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
}
