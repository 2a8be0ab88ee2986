#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
kv_install "${KV_BUILD_PACKAGES[@]}" "${KV_TEST_PACKAGES[@]}"

cmake -S . -B build -DKV_BUILD_TESTS=ON -DKV_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure "$@"
