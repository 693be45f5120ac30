#!/usr/bin/env bash
# Measures the tool against the floor program (a GUI program built the same way
# that only calls FindWindowA once), with the tool built without its manifest
# beside them to show what the manifest costs: file sizes, wall time of full
# runs that change a target's priority, imports. Writes build/benchmark.md and
# prints each budget's verdict: within, over, or inconclusive when the ratio's
# 95% interval straddles the budget.
#
# Usage: scripts/benchmark.sh [--update-readme] [RUNS]     default: 2001 rounds per build
#   --update-readme   also puts the table into README.md
# Exit code: 0 within every budget, 1 over a budget, 2 inconclusive.
set -euo pipefail
cd "$(dirname "$0")/.."
update=()
if [ "${1:-}" = --update-readme ]; then
    update=(--update-readme README.md)
    shift
fi
runs=${1:-2001}

scripts/prerequisites.sh >/dev/null
reports=()
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" \
        --target korvanel korvanel_without_manifest korvanel_floor korvanel_bench_driver >/dev/null
    dir=$PWD/build/$preset
    echo "benchmark: $runs rounds of the programs under Wine ($preset)"
    tests/wine/run-in-wine.sh --prefix build/wineprefix "$dir/bench/korvanel_bench_driver.exe" "$runs" \
        "tool=$dir/korvanel.exe" "bare=$dir/bench/korvanel_without_manifest.exe" "floor=$dir/bench/korvanel_floor.exe" \
        | tr -d '\r' >"$dir/bench/timings.txt"
    reports+=("$preset:$dir/korvanel.exe:$dir/bench/korvanel_without_manifest.exe:$dir/bench/korvanel_floor.exe:$dir/bench/timings.txt")
done
python3 bench/report.py "${update[@]}" build/benchmark.md "${reports[@]}"
