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

# kv_stop PID: ends a copy the script started and waits for it.
kv_stop() {
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# kv_start_xvfb FOLDER: starts a private X server and exports DISPLAY; stop it with
# kv_stop "$KV_XVFB_PID". -displayfd picks a free display number without racing other tests.
# No cookie: the tests run the program as another user, and the socket is local only.
kv_start_xvfb() {
  local file=$1/display deadline=$((SECONDS + 15))
  : >"$file"
  Xvfb -displayfd 3 -screen 0 2560x1440x24 -nolisten tcp 3>"$file" 2>"$1/xvfb.log" &
  KV_XVFB_PID=$!
  until grep -q '^[0-9]' "$file"; do
    kill -0 "$KV_XVFB_PID" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ] ||
      { cat "$1/xvfb.log" >&2; echo "Xvfb did not start" >&2; return 1; }
    sleep 0.1
  done
  export DISPLAY=:$(head -n 1 "$file")
}
