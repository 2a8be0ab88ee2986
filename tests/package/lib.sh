# Shared by the package scripts: start a copy of the program and find its main window.

# kv_wait_window PID: prints the id of the main window once it is mapped.
kv_wait_window() {
  local pid=$1 win="" deadline=$((SECONDS + 30))
  while [ -z "$win" ]; do
    kill -0 "$pid" 2>/dev/null || { echo "kvotomer exited before showing its window" >&2; return 1; }
    [ "$SECONDS" -lt "$deadline" ] || { echo "no window titled Квотомер within 30 s" >&2; return 1; }
    win=$(xdotool search --onlyvisible --pid "$pid" --name '^Квотомер$' 2>/dev/null | head -n 1) ||
      true
    [ -n "$win" ] || sleep 0.2
  done
  # The first paint follows the map; a screenshot taken at once may still be blank.
  sleep 1.5
  echo "$win"
}

# kv_geometry WIN: prints "x y width height" of the window on the screen.
kv_geometry() {
  xwininfo -id "$1" | awk '
    /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
    /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }'
}

# kv_stop PID: ends a process the script started and waits for it; one that ignores the
# request for 10 s is killed, so a stuck server cannot hold the test up.
kv_stop() {
  local deadline=$((SECONDS + 10))
  kill "$1" 2>/dev/null || true
  while kill -0 "$1" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
  kill -9 "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# kv_start_xvfb FOLDER: starts a private X server and exports DISPLAY; stop it with
# kv_stop "$KV_XVFB_PID". -displayfd picks a free display number without racing other tests.
# No cookie: the tests run the program as another user, and the socket is local only.
# -noreset: without it the server resets when its last client leaves (a probe such as xwininfo),
# and a program that connects during the reset is turned away.
kv_start_xvfb() {
  local file=$1/display deadline=$((SECONDS + 15))
  : >"$file"
  Xvfb -displayfd 3 -screen 0 2560x1440x24 -nolisten tcp -noreset 3>"$file" 2>"$1/xvfb.log" &
  KV_XVFB_PID=$!
  until grep -q '^[0-9]' "$file"; do
    kill -0 "$KV_XVFB_PID" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ] ||
      { cat "$1/xvfb.log" >&2; echo "Xvfb did not start" >&2; return 1; }
    sleep 0.1
  done
  export DISPLAY=:$(head -n 1 "$file")
  # Ask the server for real before any program relies on it.
  until xdpyinfo >/dev/null 2>&1; do
    kill -0 "$KV_XVFB_PID" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ] ||
      { cat "$1/xvfb.log" >&2; echo "Xvfb on $DISPLAY takes no clients" >&2; return 1; }
    sleep 0.1
  done
  KV_XVFB_LOG=$1/xvfb.log
}

# kv_explain_x: after a program failed to reach the display, says whether the server is still
# there and what it logged.
kv_explain_x() {
  if kill -0 "$KV_XVFB_PID" 2>/dev/null; then
    echo "Xvfb on $DISPLAY is still running" >&2
  else
    echo "Xvfb on $DISPLAY has exited" >&2
  fi
  cat "$KV_XVFB_LOG" >&2
}
