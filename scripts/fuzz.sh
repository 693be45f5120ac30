#!/usr/bin/env bash
# A longer fuzzing run than the test command's minute a target.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]     default: 1800
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-1800}
cmake --preset sanitize -DKORVANEL_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build --preset sanitize -j "$(nproc)"
ctest --preset sanitize -R '^fuzz_' -j "$(nproc)" --verbose | grep -E 'stat::|Test +#|invariant|ERROR'
# Back to the test command's own duration for later builds.
cmake --preset sanitize -DKORVANEL_FUZZ_SECONDS=60 >/dev/null
