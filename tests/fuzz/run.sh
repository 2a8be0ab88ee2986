#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a bounded time on a copy
# of its seed corpus. Exits non-zero when a target does not build or finds a failure; the input
# that failed is kept in build-fuzz/artifacts/.
#   tests/fuzz/run.sh [seconds per target, default 20] [target ...]
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-20}
shift || true
build=$root/build-fuzz

CXX=clang++ cmake -S "$root/tests/fuzz" -B "$build" >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" >/dev/null || { echo "fuzz: build failed"; exit 1; }

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for corpus in "$root"/tests/fuzz/corpus/*/; do
    t=$(basename "$corpus")
    [ -x "$build/${t}_fuzzer" ] && targets+=("$t")
  done
fi

mkdir -p "$build/artifacts"
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
passed=0 failed=0
for t in "${targets[@]}"; do
  work=$(mktemp -d)
  cp -r "$root/tests/fuzz/corpus/$t" "$work/corpus"
  if "$build/${t}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$t-" "$work/corpus" >"$work/log" 2>&1; then
    echo "fuzz $t: ok ($(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$') runs," \
      "$(grep -E '^#[0-9]+[[:space:]]+DONE' "$work/log" | grep -o 'cov: [0-9]* ft: [0-9]*'))"
    passed=$((passed + 1))
  else
    echo "fuzz $t: FAILED"
    grep -E 'check failed|ERROR:|runtime error|Test unit written' "$work/log" | head -n 8
    failed=$((failed + 1))
  fi
  rm -rf "$work"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
