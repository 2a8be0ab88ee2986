#!/usr/bin/env bash
# Runs the program at scale 1 and at QT_SCALE_FACTOR=2 and checks from screenshots that the
# doubled window is the whole 1x window at twice the size: nothing cut off, nothing left out.
#   hidpi.sh KVOTOMER OUTPUT_FOLDER
# Leaves hidpi-1.png and hidpi-2.png (the window alone) in OUTPUT_FOLDER.
# Also fails when the buttons show upscaled 1x pictures instead of their @2x ones.
set -euo pipefail
exe=$(realpath "$1")
out=$(realpath "$2")
here=$(dirname "$(realpath "$0")")

source "$here/lib.sh"
resources=$here/../../resources

work=$(mktemp -d)
pid=""
KV_XVFB_PID=""
cleanup() {
  [ -z "$pid" ] || kv_stop "$pid"
  [ -z "$KV_XVFB_PID" ] || kv_stop "$KV_XVFB_PID"
  rm -rf "$work"
}
trap cleanup EXIT
# 2560x1440 keeps the default position (564,175 in logical pixels) on screen at scale 2.
kv_start_xvfb "$work"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

read -r root_w root_h < <(xwininfo -root | awk '/Width:/ { w = $NF } /Height:/ { h = $NF }
  END { print w, h }')

# shot SCALE: screenshot of the main window at that scale into $out/hidpi-SCALE.png.
shot() {
  local scale=$1 run=$work/$1
  mkdir -m 700 -p "$run/runtime" "$run/data"
  # A private runtime folder keeps the one-copy lock away from copies other tests run.
  QT_SCALE_FACTOR=$scale XDG_RUNTIME_DIR=$run/runtime KVOTOMER_DATA_DIR=$run/data \
    LC_ALL=C.UTF-8 "$exe" >"$run/log.txt" 2>&1 &
  pid=$!
  local win x y w h
  win=$(kv_wait_window "$pid") ||
    { cat "$run/log.txt" >&2; kv_explain_x; fail "scale $scale: no window"; }
  read -r x y w h < <(kv_geometry "$win")
  echo "scale $scale: window ${w}x${h} at $x,$y on a ${root_w}x${root_h} screen"
  [ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + w)) -le "$root_w" ] && [ $((y + h)) -le "$root_h" ] ||
    fail "scale $scale: the window runs off the screen"
  import -window root "$run/root.png"
  convert "$run/root.png" -crop "${w}x${h}+${x}+${y}" +repage "$out/hidpi-$scale.png"
  kv_stop "$pid"
  pid=""
  echo "$w $h" >"$run/size"
}

shot 1
shot 2
read -r w1 h1 <"$work/1/size"
read -r w2 h2 <"$work/2/size"
[ "${w1}x${h1}" = "438x309" ] ||
  fail "scale 1: window ${w1}x${h1}, expected 438x309"
[ "${w2}x${h2}" = "876x618" ] || fail "scale 2: window ${w2}x${h2}, expected 876x618"

# The drawn part (frames, list, buttons) must reach exactly twice as far at scale 2.
extent() {
  convert "$1" -fuzz 10% -trim -format '%X %Y %w %h\n' info: | tr -d '+'
}
read -r ax ay aw ah < <(extent "$out/hidpi-1.png")
read -r bx by bw bh < <(extent "$out/hidpi-2.png")
echo "drawn area: ${aw}x${ah}+$ax+$ay at scale 1, ${bw}x${bh}+$bx+$by at scale 2"
near() { [ $(($1 - $2)) -le 3 ] && [ $(($2 - $1)) -le 3 ]; }
near "$bx" $((2 * ax)) && near "$by" $((2 * ay)) && near $((bx + bw)) $((2 * (ax + aw))) &&
  near $((by + bh)) $((2 * (ay + ah))) || fail "the scale 2 window is not the scale 1 window doubled"

# Shrunk back, the doubled window must look like the 1x one, tile by tile (about 20 pixels
# square): a cut-off or moved caption changes its tile well beyond what font hinting does. The
# interface list is masked out, as interfaces may come and go between the two runs, and so are
# the picture buttons, whose double-density artwork is drawn afresh (checked below).
same_look() {
  local mask=(-fill black -draw "rectangle 0,0 437,74" -draw "rectangle 250,194 437,308")
  convert "$1" -blur 0x1 "${mask[@]}" "$work/a.png"
  convert "$2" -blur 0x1 "${mask[@]}" "$work/b.png"
  convert "$work/a.png" "$work/b.png" -compose difference -composite -colorspace gray \
    -filter box -resize 22x16\! -format '%[fx:maxima]\n' info:
}
convert "$out/hidpi-2.png" -resize 438x309\! "$work/shrunk.png"
diff=$(same_look "$work/shrunk.png" "$out/hidpi-1.png")
echo "scale 2 shrunk against scale 1: largest tile difference $diff (limit 0.04)"
awk -v d="$diff" 'BEGIN { exit !(d < 0.04) }' || fail "the scale 2 window differs from scale 1"

# Which picture the "Выход" button shows: the sharp @2x one, or the 1x one blown up.
convert "$out/hidpi-2.png" -crop 242x106+504+504 +repage "$work/button.png"
score() {
  { compare -metric RMSE -subimage-search "$work/button.png" "$1" null: 2>&1 || true; } |
    sed 's/.*(\(.*\)).*/\1/'
}
convert "$resources/command1.png" -resize 200% "$work/blown-up.png"
sharp=$(score "$resources/command1@2x.png")
blown=$(score "$work/blown-up.png")
echo "Выход button at scale 2: RMSE $sharp against command1@2x.png, $blown against command1.png x2"
awk -v s="$sharp" -v b="$blown" 'BEGIN { exit !(s > b) }' &&
  fail "the buttons show the 1x pictures scaled up, not the @2x ones"
echo "hidpi: OK"
