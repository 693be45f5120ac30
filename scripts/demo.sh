#!/usr/bin/env bash
# The tool's main job, on Linux: builds the 32-bit tool, starts Wine's Notepad
# as the target, runs the tool against it and shows the priority of Notepad's
# threads before and after.
#
# Usage: scripts/demo.sh [CLASS TITLE PRIORITY]     default: Notepad NULL HIGHEST
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-session.sh

[ $# -gt 0 ] || set -- Notepad NULL HIGHEST

scripts/prerequisites.sh >/dev/null
lock_tree tree_lock build/win32 || exit 2
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target korvanel >/dev/null
tool=$PWD/build/win32/korvanel.exe

# Use the user's display when there is one, else a private Xvfb screen.
use_display=1
trap wine_session_stop EXIT
trap 'exit 143' INT TERM   # still ends the session, through the EXIT trap
wine_session_start build/wineprefix 1024x768

# Notepad's threads as "tid priority", from Wine's debugger.
notepad_threads() {
    wine_session_run winedbg --command "info thread" 2>/dev/null |
        awk '/^[0-9a-f]+ / { inside = ($2 == "notepad.exe") } inside && /^\t/ { print $1, $2 }'
}

# Started without the script's locks, so that a demo killed the hard way frees them.
lock_free /usr/lib/wine/wine notepad >/dev/null 2>&1 &
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
if ! wine_session_run timeout 20 /usr/lib/wine/wine "$tool" "$@"; then
    if [ -n "$wine_session_xvfb_pid" ]; then
        echo "demo: korvanel is showing a message box (help pages or an error) on a private screen;"
        echo "      run with DISPLAY set to see and answer it"
    else
        echo "demo: korvanel did not end within 20 s: answer its message box"
    fi
fi
echo "Notepad's threads after (thread id, priority):"
notepad_threads | sed 's/^/  /'
