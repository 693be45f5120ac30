#!/usr/bin/env bash
# The tool's main job, on Linux: builds the 32-bit tool, starts Wine's Notepad
# as the target, runs the tool against it and shows the priority of Notepad's
# threads before and after.
#
# Usage: scripts/demo.sh [CLASS TITLE PRIORITY]     default: Notepad NULL HIGHEST
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lock.sh

[ $# -gt 0 ] || set -- Notepad NULL HIGHEST

# Notepad's threads as "tid priority", from Wine's debugger (which the session keeps
# only from starting on a crash).
notepad_threads() {
    WINEDLLOVERRIDES=${WINEDLLOVERRIDES//winedbg.exe=d/} winedbg --command "info thread" 2>/dev/null |
        awk '/^[0-9a-f]+ / { inside = ($2 == "notepad.exe") } inside && /^\t/ { print $1, $2 }'
}

# The part that runs in the Wine session, on the user's display when there is one.
if [ "${1:-}" = --in-session ]; then
    shift
    /usr/lib/wine/wine notepad >/dev/null 2>&1 &
    for _ in $(seq 60); do
        [ -n "$(notepad_threads)" ] && break
        sleep 0.5
    done
    [ -n "$(notepad_threads)" ] || { echo "demo: Notepad did not start" >&2; exit 1; }
    sleep 1   # let Notepad create its window

    echo "Notepad's threads before (thread id, priority):"
    notepad_threads | sed 's/^/  /'
    echo "Running: korvanel.exe $*"
    # A box (help pages, error) waits for a click; on a private screen nobody can give one.
    if ! timeout 20 /usr/lib/wine/wine build/win32/korvanel.exe "$@"; then
        if [ "$DISPLAY" = "${KORVANEL_DEMO_DISPLAY:-}" ]; then
            echo "demo: korvanel did not end within 20 s: answer its message box"
        else
            echo "demo: korvanel is showing a message box (help pages or an error) on a private screen;"
            echo "      run with DISPLAY set to see and answer it"
        fi
    fi
    echo "Notepad's threads after (thread id, priority):"
    notepad_threads | sed 's/^/  /'
    exit 0
fi

isolated || lock_run --set-up build/win32 -- scripts/demo.sh "$@"
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target korvanel >/dev/null
KORVANEL_DEMO_DISPLAY=${DISPLAY:-} scripts/wine-session.sh --prefix build/wineprefix --display -- \
    scripts/demo.sh --in-session "$@"
