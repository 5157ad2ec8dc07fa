# Sourced by the scripts that need a display of their own: start_xvfb SCREEN
# starts Xvfb on a display number no other server holds (another test's, a
# person's), waits until it takes connections, and sets DISPLAY and xvfb
# (its process) for the caller to stop.
start_xvfb() {
  local n
  for n in $(seq 90 160); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 "$1" -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$xvfb" 2>/dev/null || break
      sleep 0.1
    done
    kill "$xvfb" 2>/dev/null || true
  done
  echo "no display could be started" >&2
  return 1
}
