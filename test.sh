#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   1. all suites (unit, widget, netlink in network namespaces, D-Bus, end-to-end) in build/;
#   2. the unit, widget and D-Bus suites again under AddressSanitizer and
#      UndefinedBehaviorSanitizer in build-asan/;
#   3. every libFuzzer target for a short while (tests/fuzz/run.sh, clang, build-fuzz/).
# Extra arguments go to both ctest runs (for example -L e2e, or -R accounting).
set -uo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
source scripts/tally.sh

# ./test.sh windows: cross-built with mingw-w64 and run under Wine instead (tests/win32/run.sh).
if [ "${1:-}" = windows ]; then
  shift
  exec tests/win32/run.sh "$@"
fi

kv_install "${KV_BUILD_PACKAGES[@]}" "${KV_TEST_PACKAGES[@]}" || exit 1

jobs=$(nproc)
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

cmake -S . -B build -DKV_BUILD_TESTS=ON -DKV_BUILD_BENCH=ON >/dev/null || exit 1
cmake --build build -j"$jobs" || exit 1
(cd build && ctest --output-on-failure "$@") 2>&1 | tee "$logs/main.txt"

cmake -S . -B build-asan -DKV_SANITIZE=ON -DKV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null ||
  exit 1
cmake --build build-asan -j"$jobs" || exit 1
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp
# Everything but the suites that drive whole systems (desktop, namespaces, package install) and
# the tests bound by time, which the sanitizers' slowness would fail or make prove nothing.
(cd build-asan && ctest --output-on-failure -LE 'e2e|robustness|package|netns|timing' "$@") 2>&1 |
  tee "$logs/asan.txt"

# Each target counts as one test; run.sh ends with "fuzz: P passed, F failed".
tests/fuzz/run.sh 2>&1 | tee "$logs/fuzz.txt"

# One closing line for all runs: ctest prints "N% tests passed, F tests failed out of T".
summary() {
  sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$1" | tail -n 1
}
passed=0 failed=0
for run in main asan; do
  read -r f t <<<"$(summary "$logs/$run.txt")"
  if [ -z "${t:-}" ]; then
    echo "$run: ctest did not finish"
    failed=$((failed + 1))
    continue
  fi
  passed=$((passed + t - f))
  failed=$((failed + f))
done
tally fuzz "$(cat "$logs/fuzz.txt")"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
