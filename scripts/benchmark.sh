#!/usr/bin/env bash
# Measures the tool against the floor program (a GUI program built the same way
# that only calls FindWindowA once): file sizes, wall time of full runs that
# change a target's priority, imports. Writes build/benchmark.md, puts the table
# into the README and fails when a budget is exceeded.
#
# Usage: scripts/benchmark.sh [RUNS]     default: 101 runs of each program per build
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-101}

[ "$(id -u)" != 0 ] || scripts/prerequisites.sh build >/dev/null
reports=()
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" --target korvanel korvanel_floor korvanel_bench_driver >/dev/null
    dir=$PWD/build/$preset
    echo "benchmark: $runs alternating runs of each program under Wine ($preset)"
    tests/wine/run-in-wine.sh --prefix build/wineprefix "$dir/bench/korvanel_bench_driver.exe" \
        "$dir/korvanel.exe" "$dir/bench/korvanel_floor.exe" "$runs" | tr -d '\r' >"$dir/bench/timings.txt"
    reports+=("$preset:$dir/korvanel.exe:$dir/bench/korvanel_floor.exe:$dir/bench/timings.txt")
done
python3 bench/report.py README.md build/benchmark.md "${reports[@]}"
