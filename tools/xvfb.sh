# Sourced by the benchmark and picture scripts: a private Xvfb for one run.
#   xvfb_start FOLDER   starts it, sets xvfb_pid and exports DISPLAY
#   xvfb_stop           ends it (safe to call when none was started)
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
    kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  fi
  xvfb_pid=
}
