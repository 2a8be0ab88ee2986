#!/usr/bin/env bash
# Runs every benchmark in bench/ against one build folder and keeps their outputs together.
#   sudo bench/run_all.sh <build dir> [out dir]
# Each part cleans up after itself (namespaces, X servers, players). Nothing is timed right
# after a namespace is deleted: the kernel keeps a core busy for seconds afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd)
out=${2:-$build/bench-results}
mkdir -p "$out"
settle() { sleep "${KV_BENCH_PAUSE:-15}"; }

cmake --build "$build" --target bench_iftable bench_second bench_bare_qt kvotomer

echo "== interface table refresh"
"$build/bench/iftable/bench_iftable" --benchmark_min_time=0.3 --benchmark_repetitions=7 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  | tee "$out/iftable.txt"
settle

echo "== one program second, instructions (callgrind)"
"$here/second/run.sh" "$build" 100 | tee "$out/second.txt"
"$here/second/run.sh" "$build" 100 --paint | tee -a "$out/second.txt"

echo "== idle cost"
/usr/bin/python3 "$here/idle.py" --build "$build" --json "$out/idle.json" | tee "$out/idle.txt"
settle

echo "== start-up"
/usr/bin/python3 "$here/startup.py" --build "$build" --runs 10 | tee "$out/startup.txt"
settle

echo "== accuracy"
/usr/bin/python3 "$here/accuracy.py" --build "$build" | tee "$out/accuracy.txt"
