#!/usr/bin/env bash
# Installs what is missing, builds Квотомер and starts it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
kv_install "${KV_BUILD_PACKAGES[@]}"

cmake -S . -B build -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target kvotomer

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found. Run it under a desktop session, or with a virtual one:" >&2
  echo "  apt-get install xvfb && xvfb-run -a ./run.sh" >&2
  exit 2
fi
exec ./build/src/kvotomer "$@"
