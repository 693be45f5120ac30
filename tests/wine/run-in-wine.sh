#!/usr/bin/env bash
# Runs one Windows program under Wine in a session of its own (a private Xvfb
# screen and wineserver, stopped when the program ends) and returns its exit code.
#
# Usage: run-in-wine.sh --prefix DIR [--screen WxH] [--] PROGRAM.exe [ARGS...]
set -euo pipefail
. "$(dirname "$0")/../../scripts/wine-session.sh"

usage() {
    echo "usage: $0 --prefix DIR [--screen WxH] [--] PROGRAM.exe [ARGS...]" >&2
    exit 2
}

prefix=""
screen="1024x768"
while [ $# -gt 0 ]; do
    case "$1" in
        --prefix) [ $# -ge 2 ] || usage; prefix=$2; shift 2 ;;
        --screen) [ $# -ge 2 ] || usage; screen=$2; shift 2 ;;
        --) shift; break ;;
        *) break ;;
    esac
done
# The prefix is always named: a Wine prefix is no place to guess.
[ -n "$prefix" ] && [ $# -ge 1 ] || usage
program=$1; shift

# The prefix first: a folder that cannot be one stops the run before anything starts.
prefix=$(wine_prefix_real_path "$prefix") || exit 2
wine_prefix_ensure_at "$prefix" || exit 2
loader=$(wine_loader_for "$program")
[ -x "$loader" ] || { echo "run-in-wine: $loader is missing; run 'sudo scripts/prerequisites.sh' once" >&2; exit 2; }
export WINELOADER=$loader

trap wine_session_stop EXIT
trap 'exit 143' INT TERM   # still ends the session, through the EXIT trap
wine_session_start "$prefix" "$screen"

set +e
wine_session_run "$loader" "$program" "$@"
status=$?
set -e
exit $status
