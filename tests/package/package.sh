#!/usr/bin/env bash
# Checks the desktop files, builds the Debian package, installs it on this machine, starts the
# installed program as an unprivileged user under Xvfb and removes the package again.
#   package.sh SOURCE_FOLDER BUILD_FOLDER [PACKAGE.deb]
# Needs root (exit code 77, a skip, otherwise). Everything it changes is undone on exit, also
# after a failure.
set -euo pipefail
src=$(realpath "$1")
build=$(realpath "$2")
deb=${3:+$(realpath "$3")}
here=$(dirname "$(realpath "$0")")
source "$here/lib.sh"
app_id=org.example.kvotomer

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: installing the package needs root"
  exit 77
fi

work=$(mktemp -d)
home=$(mktemp -d)  # apart from $work, which the other user cannot enter
installed_by_us=0
pid=""
KV_XVFB_PID=""
cleanup() {
  local rc=$?
  [ -z "$pid" ] || kv_stop "$pid"
  [ -z "$KV_XVFB_PID" ] || kv_stop "$KV_XVFB_PID"
  if [ "$installed_by_us" = 1 ] && dpkg -s kvotomer >/dev/null 2>&1; then
    echo "cleanup: removing kvotomer"
    dpkg -r kvotomer >/dev/null || rc=1
  fi
  rm -rf "$work" "$home"
  exit "$rc"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "== $*"; }

step "validating the desktop entry and the AppStream metadata"
desktop-file-validate "$src/resources/$app_id.desktop"
appstreamcli validate --no-net "$src/resources/$app_id.metainfo.xml"

step "cmake --install into a staging folder"
DESTDIR=$work/stage cmake --install "$build" --prefix /usr >/dev/null
expected=(
  usr/bin/kvotomer
  "usr/share/applications/$app_id.desktop"
  "usr/share/metainfo/$app_id.metainfo.xml"
  usr/share/man/man1/kvotomer.1.gz
  usr/share/doc/kvotomer/copyright
  usr/share/doc/kvotomer/changelog.Debian.gz
)
for size in 16 24 32 48 64 72 96 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x$size/apps/$app_id.png")
  actual=$(identify -format '%wx%h' "$work/stage/${expected[-1]}")
  [ "$actual" = "${size}x$size" ] || fail "the ${size}x$size icon is $actual"
done
for f in "${expected[@]}"; do
  [ -f "$work/stage/$f" ] || fail "cmake --install did not install /$f"
done
icon=$(sed -n 's/^Icon=//p' "$work/stage/usr/share/applications/$app_id.desktop")
[ "$icon" = "$app_id" ] || fail "the desktop entry names icon $icon, installed is $app_id"

if [ -z "$deb" ]; then
  step "building the package with cpack"
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null
  deb=$(ls "$work"/deb/kvotomer_*.deb)
fi
echo "package: $deb"
dpkg-deb -f "$deb" Package Version Depends Section Maintainer

if command -v lintian >/dev/null; then
  step "lintian (errors fail the test)"
  # lintian warns when run as root; the package is only read.
  lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || true
  lintian -q "$deb" >/dev/null 2>&1 || fail "lintian reports errors"
fi

step "installing the package"
if dpkg -s kvotomer >/dev/null 2>&1; then
  installed_by_us=0
  fail "kvotomer is installed already; remove it first, this test installs and removes its own"
fi
# apt-get may satisfy dependencies by removing other packages; refuse rather than let it.
if apt-get -s install -y "$deb" | grep '^Remv'; then
  fail "installing the package would remove the packages above"
fi
installed_by_us=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" >"$work/apt.log" ||
  { cat "$work/apt.log" >&2; fail "apt-get install failed"; }
dpkg -L kvotomer | while read -r f; do [ -d "$f" ] || echo "$f"; done >"$work/files"
for f in "${expected[@]}"; do
  grep -qx "/$f" "$work/files" || fail "the package does not install /$f"
done
desktop-file-validate "/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "/usr/share/metainfo/$app_id.metainfo.xml" >/dev/null

step "starting /usr/bin/kvotomer as nobody under Xvfb"
kv_start_xvfb "$work"
mkdir -m 700 -p "$home/runtime"
chown -R nobody:nogroup "$home"
# As root /usr/bin would be writable and the settings would land beside the program; an
# ordinary user must get them in the home folder.
setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env -i HOME="$home" XDG_RUNTIME_DIR="$home/runtime" DISPLAY="$DISPLAY" LC_ALL=C.UTF-8 \
  PATH=/usr/bin:/bin /usr/bin/kvotomer >"$work/run.log" 2>&1 &
pid=$!
win=$(kv_wait_window "$pid") ||
  { cat "$work/run.log" >&2; kv_explain_x; fail "the installed program showed no window"; }
read -r x y w h < <(kv_geometry "$win")
echo "window $win: ${w}x$h at $x,$y"
data=$home/.config/kvotomer/data.dat
[ -f "$data" ] || fail "no settings file at $data"
size=$(stat -c %s "$data")
[ "$size" = 43 ] || fail "$data has $size bytes, expected 43"
[ "$(stat -c %U "$data")" = nobody ] || fail "$data is not owned by nobody"
[ ! -e /usr/bin/data.dat ] || fail "/usr/bin/data.dat appeared"
kv_stop "$pid"
pid=""

step "removing the package"
if apt-get -s remove -y kvotomer | grep '^Remv' | grep -v '^Remv kvotomer '; then
  fail "removing kvotomer would remove the packages above"
fi
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kvotomer >"$work/apt.log" ||
  { cat "$work/apt.log" >&2; fail "apt-get remove failed"; }
installed_by_us=0
! dpkg -s kvotomer >/dev/null 2>&1 || fail "dpkg still knows kvotomer after removal"
left=$(while read -r f; do [ ! -e "$f" ] || echo "$f"; done <"$work/files")
[ -z "$left" ] || fail "files left behind: $left"
echo "package: OK"
