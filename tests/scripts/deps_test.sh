#!/usr/bin/env bash
# test.sh and tests/win32/run.sh count failed suites and go on to their summary, so sourcing
# scripts/deps.sh must leave their shell options as they were (no errexit slipped in).
set -uo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# Read in this shell: a command substitution would drop errexit on its own.
set +o >"$dir/before"
source "$(dirname "$0")/../../scripts/deps.sh"
set +o >"$dir/after"
diff "$dir/before" "$dir/after"
