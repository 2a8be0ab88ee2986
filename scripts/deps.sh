#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing. Sourced:
# it leaves the shell options of the script that sources it alone.

KV_BUILD_PACKAGES=(
  build-essential cmake pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libmnl-dev libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core fonts-liberation2
)
KV_TEST_PACKAGES=(
  xvfb xauth openbox trayer x11-utils xdotool dbus dbus-x11 iproute2
  at-spi2-core python3-pyatspi python3-dbus python3-gi mpv mpv-mpris ffmpeg imagemagick
  clang libclang-rt-14-dev
  desktop-file-utils appstream lintian file
  # NetworkManager itself for the hang-up's tests, with an OpenVPN connection; the tests run it
  # in network namespaces of their own and leave this machine's network alone.
  network-manager network-manager-openvpn openvpn
)
# ./test.sh windows: the cross compiler, GoogleTest's sources to build with it, Wine to run the
# result, the Russian locale's sources for Wine's code page 1251; for the whole program NSIS and
# a desktop of its own (Xvfb, openbox) with the tools that drive and photograph it.
KV_WINDOWS_TEST_PACKAGES=(
  cmake make python3 iproute2 g++-mingw-w64-x86-64 googletest wine64 locales
  nsis xvfb xauth openbox x11-utils xdotool imagemagick
)
# scripts/qt-mingw.sh: Qt for Windows built from Debian's source package.
KV_QT_MINGW_PACKAGES=(
  g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools ninja-build cmake dpkg-dev xz-utils
  perl
)
# Only for the whole-program benchmarks in bench/ (idle cost, start-up, accuracy); never part
# of a test install.
KV_BENCH_PACKAGES=(
  valgrind conky-std gkrellm python3-xlib
  xvfb openbox x11-utils dbus iproute2 at-spi2-core python3-pyatspi mpv mpv-mpris ffmpeg
)

kv_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]:-}"
}

kv_install() {
  local missing
  missing=$(kv_missing "$@")
  [ -z "$missing" ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: $missing"
  $sudo apt-get update -qq || return 1
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}
