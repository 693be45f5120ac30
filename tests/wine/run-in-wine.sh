#!/usr/bin/env bash
# Runs one Windows program under Wine in a session of its own: a private Xvfb
# screen and a wineserver for the build tree's prefix, both stopped by their
# process ids when the program ends. The program's exit code is returned.
#
# Usage: run-in-wine.sh --prefix DIR [--screen WxH] [--] PROGRAM.exe [ARGS...]
set -euo pipefail

prefix=""
screen="1024x768"
while [ $# -gt 0 ]; do
    case "$1" in
        --prefix) prefix=$2; shift 2 ;;
        --screen) screen=$2; shift 2 ;;
        --) shift; break ;;
        *) break ;;
    esac
done
[ $# -ge 1 ] || { echo "usage: $0 --prefix DIR [--screen WxH] PROGRAM.exe [ARGS...]" >&2; exit 2; }
program=$1; shift

if [ ! -f "$prefix/system.reg" ]; then
    echo "run-in-wine: no Wine prefix at '$prefix'; run scripts/prerequisites.sh first" >&2
    exit 2
fi

# A PE32+ program runs in the 64-bit Wine, a PE32 one in the 32-bit Wine.
case "$(file -b "$program")" in
    PE32+*) loader=/usr/lib/wine/wine64 ;;
    PE32*)  loader=/usr/lib/wine/wine ;;
    *) echo "run-in-wine: '$program' is not a Windows program" >&2; exit 2 ;;
esac
[ -x "$loader" ] || { echo "run-in-wine: $loader is missing; run scripts/prerequisites.sh" >&2; exit 2; }

prefix=$(cd "$prefix" && pwd)
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export QEMU_RESERVED_VA=0x81000000   # keeps 32-bit Wine quick where qemu-user runs it
export WINELOADER=$loader

work=$(mktemp -d)
xvfb_pid=""
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then
        # Ends every Wine process of this prefix (services, explorer) and then the server itself.
        wineserver -k 2>/dev/null || kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to the file.
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; echo "run-in-wine: Xvfb did not start" >&2; exit 2; }
    sleep 0.1
done
[ -s "$work/display" ] || { echo "run-in-wine: Xvfb gave no display" >&2; exit 2; }
export DISPLAY=":$(head -n1 "$work/display")"

# A wineserver of this session's own, so that it can be stopped by its id.
# Wait for its socket, or the first Wine process would start a server itself.
# Wine keeps it in /tmp/.wine-UID or a private /tmp/wine-XXXXXX folder.
read -r dev ino < <(stat -c '%d %i' "$prefix")
server_dir=$(printf 'server-%x-%x' "$dev" "$ino")
wineserver -f -p >"$work/wineserver.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
    compgen -G "/tmp/.wine-$(id -u)/$server_dir/socket" >/dev/null && break
    compgen -G "/tmp/wine-*/$server_dir/socket" >/dev/null && break
    kill -0 "$server_pid" 2>/dev/null || { cat "$work/wineserver.log" >&2; echo "run-in-wine: wineserver did not start" >&2; exit 2; }
    sleep 0.1
done

set +e
"$loader" "$program" "$@"
status=$?
set -e
exit $status
