#!/usr/bin/env bash
# ./test.sh windows: the Qt-free parts, the whole Windows backend among them, cross-built with
# mingw-w64 (build-win32/) and run under Wine: the unit suites, the backend's own tests, and
# GetIfTable inside a network namespace checked against the kernel's counters. Ends with
# "N passed, N failed" (GoogleTest cases plus the namespace checks). Extra arguments go to every
# GoogleTest run (for example --gtest_filter=Ras*).
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/deps.sh
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
  read -r np nf <<<"$(sed -n 's/^netns: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' <<<"$netns")"
  if [ -z "${nf:-}" ]; then
    echo "  the namespace test did not finish"
    failed=$((failed + 1))
  else
    passed=$((passed + np))
    failed=$((failed + nf))
  fi
else
  echo "  skipped: network namespaces need root"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
