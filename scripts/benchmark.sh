#!/usr/bin/env bash
# Measures the tool against the floor program (built the same way, with the same
# manifest, it only calls FindWindowA once): file sizes, the time of full runs
# that change a target's priority, and what the manifest costs, in Wine sessions
# of their own, each with a random seed of its own. Writes build/benchmark.md;
# progress goes to stderr, the table to stdout.
#
# Usage: scripts/benchmark.sh [--update-readme] [SESSIONS [ROUNDS [BUILD...]]]
#   SESSIONS          Wine sessions per build, at least 8; default 16
#   ROUNDS            rounds per session, at least 20; default 100
#   BUILD             win32 and/or win64, default both (where qemu-user runs
#                     32-bit programs, win32 is then sized but not timed)
#   --update-readme   also puts the table into README.md
# Exit code: 0 within every budget, 1 over a budget, 2 inconclusive, 3 nothing to
# judge (bad arguments, a failed build or Wine session, timings refused).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lock.sh
trap 'exit 3' ERR
update=()
if [ "${1:-}" = --update-readme ]; then
    update=(--update-readme README.md)
    shift
fi
sessions=${1:-16} rounds=${2:-100}
shift $(($# < 2 ? $# : 2))
timed=("$@")
if ! [[ $sessions =~ ^[0-9]+$ && $rounds =~ ^[0-9]+$ ]] || [ "$sessions" -lt 8 ] || [ "$rounds" -lt 20 ]; then
    echo "usage: $0 [--update-readme] [SESSIONS (8 or more) [ROUNDS (20 or more) [win32|win64...]]]" >&2
    exit 3
fi
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

scripts/prerequisites.sh >/dev/null
reports=()
for preset in win32 win64; do
    lock_tree tree_lock "build/$preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" --target korvanel korvanel_without_manifest \
        korvanel_floor korvanel_floor_without_manifest korvanel_bench_driver >/dev/null
    cp "build/$preset/korvanel.exe" "build/$preset/bench/korvanel.exe"
    count=0
    [[ " ${timed[*]} " != *" $preset "* ]] || count=$sessions
    reports+=("$preset:$PWD/build/$preset/bench:$count")
done
# Every session runs on one core: on several, where the processes and the
# server land splits start times into groups a few ms apart. The builds take
# turns, session by session, so that whatever drifts on the machine reaches both.
core=$(sed -n 's/^Cpus_allowed_list:.*[-,]\([0-9]*\)$/\1/p; s/^Cpus_allowed_list:[^0-9]*\([0-9]*\)$/\1/p' /proc/self/status)
for session in $(seq "$sessions"); do
    for preset in "${timed[@]}"; do
        dir=$PWD/build/$preset/bench
        seed=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')
        echo "benchmark: $preset session $session of $sessions, $rounds rounds, seed $seed" >&2
        taskset -c "$core" tests/wine/run-in-wine.sh --prefix build/wineprefix "$dir/korvanel_bench_driver.exe" "$rounds" "$seed" \
            "tool=$dir/korvanel.exe" "floor=$dir/korvanel_floor.exe" -- \
            "bare=$dir/korvanel_without_manifest.exe" "floor_bare=$dir/korvanel_floor_without_manifest.exe" |
            tr -d '\r' >"$dir/timings-$session.txt"
    done
done
status=0
python3 bench/report.py "${update[@]}" build/benchmark.md "${reports[@]}" || status=$?
exit $status
