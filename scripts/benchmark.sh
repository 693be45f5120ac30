#!/usr/bin/env bash
# Measures the tool against the floor program (a GUI program built the same way,
# with the same manifest, that only calls FindWindowA once): file sizes, wall
# time of full runs that change a target's priority, imports. The tool and the
# floor built without the manifest run beside them, in rounds of their own, to
# show what the manifest costs. Writes build/benchmark.md and prints each
# budget's verdict: within, over, or inconclusive when the ratio's 95% interval
# straddles the budget. Progress goes to stderr, the table to stdout.
#
# Usage: scripts/benchmark.sh [--update-readme] [RUNS [BUILD...]]
#   RUNS              rounds per build, default 2001
#   BUILD             win32 and/or win64, default both; where 32-bit programs run
#                     through qemu-user, win32 is then sized but not timed
#   --update-readme   also puts the table into README.md
# Exit code: 0 within every budget, 1 over a budget, 2 inconclusive, 3 timings
# that cannot be read.
set -euo pipefail
cd "$(dirname "$0")/.."
update=()
if [ "${1:-}" = --update-readme ]; then
    update=(--update-readme README.md)
    shift
fi
runs=${1:-2001}
[ $# -eq 0 ] || shift
timed=("$@")
for preset in "${timed[@]}"; do
    case "$preset" in win32|win64) ;; *) echo "benchmark: no build '$preset' (win32, win64)" >&2; exit 2 ;; esac
done

# Where the kernel cannot run 32-bit programs, qemu-user does (see
# prerequisites.sh), and a 32-bit Wine start takes seconds instead of
# milliseconds: the time is the emulator's, and varies by a third.
if [ ${#timed[@]} -eq 0 ]; then
    timed=(win32 win64)
    if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
        timed=(win64)
        echo "benchmark: win32 is sized but not timed: this machine runs 32-bit programs through" \
             "qemu-user, where a start takes about 3 s and times the emulator; to time it anyway:" \
             "scripts/benchmark.sh RUNS win32 win64" >&2
    fi
fi

scripts/prerequisites.sh >/dev/null
reports=()
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" --target korvanel korvanel_without_manifest \
        korvanel_floor korvanel_floor_without_manifest korvanel_bench_driver >/dev/null
    dir=$PWD/build/$preset
    tool=$dir/korvanel.exe bare=$dir/bench/korvanel_without_manifest.exe
    floor=$dir/bench/korvanel_floor.exe floor_bare=$dir/bench/korvanel_floor_without_manifest.exe
    timings=-
    if [[ " ${timed[*]} " == *" $preset "* ]]; then
        timings=$dir/bench/timings.txt
        echo "benchmark: $runs rounds of the programs under Wine ($preset)" >&2
        tests/wine/run-in-wine.sh --prefix build/wineprefix "$dir/bench/korvanel_bench_driver.exe" "$runs" \
            "tool=$tool" "floor=$floor" -- "bare=$bare" "floor_bare=$floor_bare" \
            | tr -d '\r' >"$timings"
    fi
    reports+=("$preset:$tool:$bare:$floor:$floor_bare:$timings")
done
python3 bench/report.py "${update[@]}" build/benchmark.md "${reports[@]}"
