#!/usr/bin/env bash
# Measures the tool against the floor program (built the same way, with the same manifest,
# it does the tool's job and nothing more: find the window, open its thread, set its priority,
# close it): file sizes, the time of full runs that each change a target's priority, and what
# the manifest costs, in Wine sessions of their own, each with a random
# seed of its own. Writes build/benchmark.md; progress to stderr, the table to stdout.
# Usage: scripts/benchmark.sh [--update-page] [SESSIONS [ROUNDS [BUILD...]]]
#   SESSIONS per build, 8 or more (default 16); ROUNDS per session, 20 or more (default 100);
#   BUILD win32 and/or win64 (default both; where qemu-user runs 32-bit programs, win32 is
#   then sized, not timed); --update-page also puts the table into docs/benchmark.md.
# Exit code: 0 within every budget, 1 over one, 2 inconclusive, 3 no verdict (bad arguments,
# a failed build or Wine session, input the report refuses, a failure of the report's own).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lock.sh
trap 'exit 3' ERR
update=()
[ "${1:-}" != --update-page ] || { update=(--update-page docs/benchmark.md); shift; }
sessions=${1:-16} rounds=${2:-100}
shift $(($# < 2 ? $# : 2))
timed=("$@")
[[ $sessions =~ ^[0-9]+$ && $rounds =~ ^[0-9]+$ ]] && [ "$sessions" -ge 8 ] && [ "$rounds" -ge 20 ] ||
    { echo "usage: $0 [--update-page] [SESSIONS (8 or more) [ROUNDS (20 or more) [win32|win64...]]]" >&2; exit 3; }
for preset in "${timed[@]}"; do
    case "$preset" in win32|win64) ;; *) echo "benchmark: no build '$preset' (win32, win64)" >&2; exit 3 ;; esac
done
# Where qemu-user runs 32-bit programs, a start takes seconds and times the emulator.
if [ ${#timed[@]} -eq 0 ]; then
    timed=(win32 win64)
    if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
        timed=(win64)
        echo "benchmark: win32 is sized but not timed: this machine runs 32-bit programs through qemu-user;" \
             "to time it anyway: scripts/benchmark.sh $sessions $rounds win32 win64" >&2
    fi
fi

isolated || lock_run --set-up build/win32 build/win64 -- scripts/benchmark.sh "${update[@]:0:1}" "$sessions" "$rounds" "${timed[@]}"
reports=()
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" --target korvanel korvanel_without_manifest \
        korvanel_floor korvanel_floor_without_manifest korvanel_bench_driver >/dev/null
    cp "build/$preset/korvanel.exe" "build/$preset/bench/korvanel.exe"
    count=0
    [[ " ${timed[*]} " != *" $preset "* ]] || count=$sessions
    reports+=("$preset:$PWD/build/$preset/bench:$count")
done
# Every session runs on one core: on several, where the processes and the server land splits
# start times into groups. The builds take turns, so that whatever drifts reaches both.
core=$(sed -n 's/^Cpus_allowed_list:.*[-,]\([0-9]*\)$/\1/p; s/^Cpus_allowed_list:[^0-9]*\([0-9]*\)$/\1/p' /proc/self/status)
for session in $(seq "$sessions"); do
    for preset in "${timed[@]}"; do
        dir=$PWD/build/$preset/bench
        seed=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')
        echo "benchmark: $preset session $session of $sessions, $rounds rounds, seed $seed" >&2
        taskset -c "$core" scripts/wine-session.sh --prefix build/wineprefix "$dir/korvanel_bench_driver.exe" "$rounds" "$seed" \
            "tool=$dir/korvanel.exe" "floor=$dir/korvanel_floor.exe" -- \
            "bare=$dir/korvanel_without_manifest.exe" "floor_bare=$dir/korvanel_floor_without_manifest.exe" |
            tr -d '\r' >"$dir/timings-$session.txt"
    done
done
exec python3 bench/report.py "${update[@]}" build/benchmark.md "${reports[@]}"
