#!/usr/bin/env bash
# Instructions per simulated second of the program's own work, counted by callgrind.
#   bench/second/run.sh <build dir> [seconds] [--paint]
# Prints the total, the table refresh (TrafMeter::GetIPStats with the fake GetIfTable under it)
# and the rest, each per second.
set -euo pipefail
build=${1:?build dir}
seconds=${2:-100}
paint=${3:-}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --callgrind-out-file="$out/cg.out" \
  --toggle-collect='*MeasuredSeconds*' "$build/bench/second/bench_second" "$seconds" $paint \
  >"$out/stdout" 2>"$out/valgrind.log"
cat "$out/stdout"
callgrind_annotate --inclusive=yes --threshold=100 "$out/cg.out" >"$out/inclusive.txt" 2>/dev/null
total=$(awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }' "$out/inclusive.txt")
refresh=$(awk '/kv::TrafMeter::GetIPStats\(\) \[/ && !/=>/ { gsub(",", "", $1); print $1; exit }' \
  "$out/inclusive.txt")
refresh=${refresh:-0}
awk -v t="$total" -v r="$refresh" -v s="$seconds" 'BEGIN {
  printf "instructions per program second: total %.0f, table refresh %.0f, without the refresh %.0f\n",
    t / s, r / s, (t - r) / s }'
if [ -n "${KV_KEEP_PROFILE:-}" ]; then cp "$out/cg.out" "$KV_KEEP_PROFILE"; fi
