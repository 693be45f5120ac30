#!/usr/bin/env bash
# A Wine session that shares nothing writable: COMMAND (a Windows program, through the Wine loader of
# its format) runs on a private copy of the prefix DIR, with a screen of its own (a new Xvfb one, or with
# --display the user's if DISPLAY is set). Exits with COMMAND's status, 2 if the session cannot be made.
# Usage: scripts/wine-session.sh --prefix DIR [--screen WxH] [--display] [--] [COMMAND [ARGS...]]
# In namespaces of its own (lock.sh's isolate), DIR becomes an overlay whose writes land on a tmpfs, so
# sessions run side by side and the kernel ends each with all it started and wrote. A ready prefix is
# used as it is; a missing or empty DIR is made into one (all there is to do without COMMAND) in a folder
# beside it, renamed to DIR once Wine has written it; creations take turns on the parent folder.
set -euo pipefail
. "$(dirname "$0")/lock.sh"
fail() { printf 'wine-session: %s\n' "$*" >&2; exit 2; }
usage() { fail "usage: $0 --prefix DIR [--screen WxH] [--display] [--] [COMMAND [ARGS...]]"; }
prefix="" screen=1024x768 display="" create=""
while [ $# -gt 0 ]; do
    case "$1" in
        --prefix|--screen|--create) [ $# -ge 2 ] || usage; declare "${1#--}=$2"; shift 2 ;;
        --display) display=--display; shift ;;
        --) shift; break ;;
        *) break ;;
    esac
done
[ -n "$prefix" ] || usage
ready() { [ -f "$1/system.reg" ] && [ -f "$1/drive_c/windows/syswow64/kernel32.dll" ]; }

if ! isolated; then
    mkdir -p -- "$prefix" && prefix=$(cd -P -- "$prefix" && pwd -P && echo x) && prefix=${prefix%$'\nx'} || fail "cannot make '$prefix'"
    # Another user's files cannot be copied up through a user namespace (a root one's can).
    [ -O "$prefix" ] || { [ "$(id -u)" = 0 ] && [ "$(stat -c %u "$prefix")" != "$(cat /proc/sys/kernel/overflowuid)" ]; } ||
        fail "'$prefix' belongs to $(stat -c %U "$prefix"); a session takes only your own: remove it (sudo rm -rf '$prefix') or give another"
    if ! ready "$prefix"; then
        unfinished=$(dirname "$prefix")/.$(basename "$prefix").korvanel-unfinished creation=""
        lock_tree creation "$(dirname "$prefix")" || exit 2
        if ! ready "$prefix"; then
            [ -z "$(ls -A "$prefix")" ] || fail "'$prefix' is neither a complete 32-bit Wine prefix nor empty, so it is left as it" \
                "is; give an empty or new folder, or a prefix made by 'wineboot -i' with 32-bit support"
            command -v wine >/dev/null || fail "Wine is not installed; run 'sudo scripts/prerequisites.sh' once"
            echo "wine-session: making the Wine prefix $prefix (half a minute, minutes where qemu-user runs 32-bit programs)" >&2
            # Under the lock, what is there was left by an interrupted creation.
            rm -rf -- "$unfinished" && mkdir -- "$unfinished" || fail "cannot write beside '$prefix'"
            isolate "$0" --prefix "$prefix" --create "$unfinished" || exit
            ready "$unfinished" || fail "the new prefix has no 32-bit half, so 32-bit programs cannot run;" \
                "run 'sudo scripts/prerequisites.sh' once, then run again"
            mv -T -- "$unfinished" "$prefix"
        fi
        exec {creation}<&-
    fi
    [ $# = 0 ] || isolate "$0" --prefix "$prefix" --screen "$screen" ${display:+"$display"} -- "$@"
    exit
fi

export WINEDEBUG=${WINEDEBUG:--all} QEMU_RESERVED_VA=0x81000000   # the latter keeps 32-bit Wine quick under qemu-user
# No Mono or Gecko dialogs, no menu entries or file associations, and no crash dialog waiting for a click.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
if [ -n "$create" ]; then
    # The server's folder goes on a tmpfs over DIR, which stays empty until the new prefix replaces it.
    mount -t tmpfs tmpfs "$prefix"
    export TMPDIR=$prefix WINEPREFIX=$create
    wine wineboot -i >/dev/null 2>&1 || true
    exec wineserver -w   # Wine writes the registry when its server ends
fi
# DIR shows what it held, and takes writes on a tmpfs below the overlay, reached by descriptors.
exec {below}<"$prefix"
mount -t tmpfs tmpfs "$prefix" && mkdir "$prefix/up" "$prefix/work" && exec {above}<"$prefix" &&
    mount -t overlay overlay -o "lowerdir=/proc/self/fd/$below,upperdir=/proc/self/fd/$above/up,workdir=/proc/self/fd/$above/work" "$prefix" ||
    fail "cannot lay an overlay over '$prefix' (a user namespace takes one from Linux 5.11)"
exec {below}<&- {above}<&-
export WINEPREFIX=$prefix TMPDIR=$prefix/.tmp   # the server's folder among the session's writes
mkdir "$TMPDIR"
case "$(file -b -- "$1" 2>/dev/null)" in PE32+*) set -- /usr/lib/wine/wine64 "$@" ;; PE32*) set -- /usr/lib/wine/wine "$@" ;; esac
if [ -z "$display" ] || [ -z "${DISPLAY:-}" ]; then
    # Xvfb writes the display it picked; its files go on a /tmp of its own, clients use its abstract socket.
    exec {xvfb}< <(unshare --mount "$BASH" -c 'mount -t tmpfs tmpfs /tmp && exec "$@"' Xvfb \
        Xvfb -displayfd 1 -screen 0 "${screen}x24" -nolisten tcp 2>"$TMPDIR/xvfb.log")
    read -r -t 10 -u "$xvfb" number || { cat "$TMPDIR/xvfb.log" >&2; fail "Xvfb did not start"; }
    export DISPLAY=:$number
fi
wineserver -p   # one server for the whole session, before the program's first process
"$@"
