#!/usr/bin/env bash
# A longer fuzzing run than the test command's minute a target, in a build tree
# of its own (build/fuzz): whatever happens to it, the test command's trees and
# settings stay as they were.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]     default: 1800
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lock.sh
seconds=${1:-1800}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [SECONDS_PER_TARGET], a whole number above 0" >&2; exit 2; }
isolated || lock_run build/fuzz -- scripts/fuzz.sh "$@"
cmake -S . -B build/fuzz --preset sanitize -DKORVANEL_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target fuzz_parse_arguments fuzz_command_tail fuzz_run
ctest --test-dir build/fuzz -R '^fuzz_' -j "$(nproc)" --verbose | grep -E 'stat::|Test +#|invariant|ERROR'
