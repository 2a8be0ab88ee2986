#!/usr/bin/env bash
# Runs ./test.sh N times in a row, each on a fresh clone of this repository's HEAD, while a
# clean -j1 rebuild of the project loops beside it to keep one core busy: the suite must pass on
# a loaded machine. Compiler output is shared through ccache when it is installed; the tests
# themselves do not depend on it. Stops at the first failing run.
#   scripts/test-in-a-row.sh [runs, default 5] [folder for clones and logs, default /tmp/kv-in-a-row]
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
work=${2:-/tmp/kv-in-a-row}
rev=$(git -C "$repo" rev-parse --short HEAD)
mkdir -p "$work"
summary=$work/summary-$rev.txt

load_dir=$work/load-build
rm -rf "$load_dir"
cmake -S "$repo" -B "$load_dir" -DKV_BUILD_TESTS=ON -DKV_BUILD_BENCH=OFF >/dev/null || exit 1
setsid bash -c "while true; do cmake --build '$load_dir' --clean-first -j1 >/dev/null 2>&1; done" &
load=$!
trap 'kill -- -"$load" 2>/dev/null' EXIT

if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$work CCACHE_NOHASHDIR=1
fi
echo "commit $rev, $runs runs, load: clean -j1 rebuild in a loop" | tee "$summary"
status=0
for i in $(seq 1 "$runs"); do
  clone=$work/clone-$i
  rm -rf "$clone"
  git clone -q "$repo" "$clone"
  start=$(date +%s)
  (cd "$clone" && ./test.sh) >"$work/run-$rev-$i.log" 2>&1
  rc=$?
  echo "run $i: exit $rc, $(($(date +%s) - start)) s, $(tail -n 1 "$work/run-$rev-$i.log")" |
    tee -a "$summary"
  if [ "$rc" -ne 0 ]; then
    status=1
    break
  fi
done
exit "$status"
