#!/usr/bin/env bash
# Cross-builds Debian's own qtbase for 64-bit Windows (mingw-w64, shared, release: Core, Gui,
# Widgets, Network and the windows platform plugin) and installs it into a cache outside the
# repository, one folder per Qt version and option set, so a machine builds it once. Prints the
# install folder (use it as CMAKE_PREFIX_PATH). Needs root on a fresh Debian 12 for apt.
#   --cached      only print the folder of a finished build; exit 3, building nothing, without one
#   KV_QT_CACHE   where the installs live (/var/cache/kvotomer)
#   KV_QT_SCRATCH where the source is unpacked and built, removed after success (/var/tmp)
#   KV_QT_JOBS    parallel build jobs (2)
set -euo pipefail
# Only the install folder goes to standard output.
exec 3>&1 1>&2
repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/scripts/deps.sh"

cache=${KV_QT_CACHE:-/var/cache/kvotomer}
scratch_root=${KV_QT_SCRATCH:-/var/tmp}
jobs=${KV_QT_JOBS:-2}
toolchain=$repo/cmake/mingw-w64-x86_64.cmake

cached_only=false
[ "${1:-}" = --cached ] && cached_only=true
$cached_only || kv_install "${KV_QT_MINGW_PACKAGES[@]}"
# The build runs Debian's moc, rcc and uic, so the target libraries must be the very same version.
deb_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null) || exit 3
qt_version=${deb_version%%+*}
qt_version=${qt_version%%-*}

opts=(
  -xplatform win32-g++ -qt-host-path /usr
  -release -shared -nomake examples -nomake tests
  # Direct2D stays: Qt Gui builds its DirectWrite font database only with it, and the windows
  # plugin links to that database all the same.
  -opengl no -no-feature-vulkan -no-dbus -no-openssl -no-zstd -no-icu
  -no-feature-sql -no-feature-printsupport -no-feature-testlib -no-feature-concurrent
  -no-feature-xml
  # Debian's source leaves out the Wintab headers.
  -no-feature-tabletevent
  -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-doubleconversion
  --
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
)
# The toolchain file is part of the key: another compiler or flag set is another Qt.
key=$( (
  echo "$deb_version"
  printf '%s\n' "${opts[@]}"
  cat "$toolchain"
) | sha256sum | cut -c1-10)
name=qt-$qt_version-mingw-$key
prefix=$cache/$name
stamp=$prefix/.kvotomer-complete

if [ -f "$stamp" ]; then
  echo "$prefix" >&3
  exit 0
fi
$cached_only && exit 3

mkdir -p "$cache"
# A second caller waits for the first build rather than starting its own.
exec 9>"$cache/$name.lock"
flock 9
if [ -f "$stamp" ]; then
  echo "$prefix" >&3
  exit 0
fi

# apt-get source needs a deb-src entry for the archive the binaries come from.
if [ -z "$(apt-cache showsrc qt6-base 2>/dev/null)" ]; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      >/etc/apt/sources.list.d/kvotomer-deb-src.sources
  else
    sed -n 's/^deb[[:space:]]/deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/kvotomer-deb-src.list
  fi
  apt-get update -qq
fi

scratch=$scratch_root/kvotomer-$name
mkdir -p "$scratch"
src=$(find "$scratch" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' -print -quit)
if [ -z "$src" ]; then
  (cd "$scratch" && apt-get source -qq "qt6-base=$deb_version")
  src=$(find "$scratch" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' -print -quit)
fi

# A build stopped half-way resumes in the same folder; a half-finished install is redone.
rm -rf "$prefix"
start=$(date +%s)
mkdir -p "$scratch/build" "$prefix"
# Qt's own toolchain file loads this one: keep a copy beside the install, not in a worktree.
cp "$toolchain" "$prefix/mingw-w64-x86_64.cmake"
(cd "$scratch/build" && "$src/configure" -prefix "$prefix" "${opts[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64-x86_64.cmake")
cmake --build "$scratch/build" --parallel "$jobs"
cmake --install "$scratch/build"
seconds=$(($(date +%s) - start))

took=$(printf '%d min %02d s' $((seconds / 60)) $((seconds % 60)))
{
  echo "qt6-base $deb_version for Windows, built in $took on $(nproc) cores with $jobs jobs"
  echo "configure ${opts[*]}"
} >"$prefix/kvotomer-build.txt"
rm -rf "$scratch"
touch "$stamp"
echo "Qt $qt_version for Windows built in $took"
echo "$prefix" >&3
