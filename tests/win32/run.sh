#!/usr/bin/env bash
# ./test.sh windows: the Qt-free parts, the whole Windows backend among them, cross-built with
# mingw-w64 (build-win32/) and run under Wine: the unit suites, the backend's own tests, and
# GetIfTable inside a network namespace checked against the kernel's counters. Then the whole
# program (build-win-app/) against Qt for Windows, which scripts/qt-mingw.sh builds once per
# machine: kvotomer.exe, its installer and zip, and the program run under Wine as a person would
# (tests/win32/program_scenarios.py, which reads the controls through tests/win32/accessible_dump). KV_WINDOWS_PROGRAM=skip leaves the program out. Ends with
# "N passed, N failed" (GoogleTest cases plus the scripted checks). Extra arguments go to every
# GoogleTest run (for example --gtest_filter=Ras*).
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/deps.sh
source scripts/tally.sh
kv_install "${KV_WINDOWS_TEST_PACKAGES[@]}" || exit 1

build=build-win32
wine=/usr/lib/wine/wine64
cmake -S cmake/win32 -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DKV_WINE="$wine" >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" || exit 1

export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all
# Creates the prefix on first use (several seconds). The null display driver lets the tests make
# the player's window without an X server.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null || {
  echo "Wine does not start"
  exit 1
}
# The first start leaves the prefix set-up and its desktop running with the old driver; wait for
# them to end so the tests meet a finished prefix. (wineserver -k here ends this script as well.)
/usr/lib/wine/wineserver -w 2>/dev/null

passed=0 failed=0
while read -r name; do
  [ -n "$name" ] || continue
  exe=$(find "$build" -name "$name.exe" -print -quit)
  echo "== $name"
  out=$(timeout 300 "$wine" "$exe" "$@" </dev/null 2>&1)
  rc=$?
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' <<<"$out")
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:.*/\1/p' <<<"$out")
  grep -E '^\[  FAILED  \]|^\[==========\] [0-9]+ tests|Failure$' <<<"$out" | sed 's/^/  /'
  passed=$((passed + ${p:-0}))
  failed=$((failed + ${f:-0}))
  # A crash or a hang counts once on top of whatever had run.
  if [ "$rc" -ne 0 ] && [ -z "$f" ]; then
    echo "  $name ended with status $rc"
    tail -n 20 <<<"$out" | sed 's/^/  | /'
    failed=$((failed + 1))
  fi
done <"$build/test-executables.txt"
/usr/lib/wine/wineserver -w 2>/dev/null

echo "== GetIfTable in a network namespace"
if [ "$(id -u)" -eq 0 ]; then
  netns=$(python3 tests/win32/iftable_netns.py "$build/tests-win32/iftable_dump.exe" "$wine" \
    "$PWD/$build/wineprefix-netns" 2>&1)
  sed 's/^/  /' <<<"$netns"
  tally netns "$netns"
else
  echo "  skipped: network namespaces need root"
fi

echo "== the Windows program"
if [ "${KV_WINDOWS_PROGRAM:-}" = skip ]; then
  echo "  skipped (KV_WINDOWS_PROGRAM=skip)"
elif ! qt=$(scripts/qt-mingw.sh); then
  echo "  Qt for Windows could not be built"
  failed=$((failed + 1))
else
  app_build=build-win-app
  app=$PWD/$app_build/app
  rm -rf "$app" "$app_build"/kvotomer-*-win64.*
  if "$qt/bin/qt-cmake" -S . -B "$app_build" -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF \
    >/dev/null && cmake --build "$app_build" -j"$(nproc)" >/dev/null &&
    (cd "$app_build" && cpack >/dev/null) &&
    cmake --install "$app_build" --prefix "$app" --strip >/dev/null &&
    "$qt/bin/qt-cmake" -S tests/win32/accessible_dump -B "$app_build/accessible_dump" \
      >/dev/null && cmake --build "$app_build/accessible_dump" >/dev/null; then
    ls -l "$app_build"/kvotomer-*-win64.* | sed 's/^/  /'
    prefix=$PWD/$app_build/wineprefix
    # A prefix of its own with Wine's X11 driver; created before the clock of any check starts.
    WINEPREFIX=$prefix WINEDEBUG=-all "$wine" wineboot -i >/dev/null 2>&1 </dev/null
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -w 2>/dev/null
    program=$(/usr/bin/python3 tests/win32/program_scenarios.py --wine "$wine" --prefix "$prefix" \
      --app "$app" --probe "$build/tests-win32/window_probe.exe" \
      --iftable-dump "$build/tests-win32/iftable_dump.exe" \
      --accessible-dump "$(find "$app_build/accessible_dump" -name kvaccessibledump.dll)" \
      --installer "$(ls "$PWD/$app_build"/kvotomer-*-win64.exe)" \
      --screenshots "$app_build/screenshots" 2>&1)
    grep -v '^Openbox-Message' <<<"$program" | sed 's/^/  /'
    tally program "$program"
  else
    echo "  the program, its installer, its zip or the accessibility plugin did not build"
    failed=$((failed + 1))
  fi
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
