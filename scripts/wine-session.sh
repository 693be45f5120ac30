#!/usr/bin/env bash
# A Wine session that keeps to itself: COMMAND (a Windows program) runs on the prefix DIR with a screen of
# its own (a new Xvfb one, or with --display the user's if set); exits with its status, 2 if the session
# cannot be made. In namespaces of its own (lock.sh), DIR is an overlay whose writes land on the session's
# TMPDIR, so sessions run side by side and end with all they did (Z: is still the whole file system).
# First, under DIR's lock: an empty DIR is made a prefix beside it (anew, after a creation cut short) and
# renamed into place, all there is to do without COMMAND; one older than the installed Wine is brought
# up to date; the shell folders that Wine links to the home folder become folders of the prefix.
# Usage: scripts/wine-session.sh --prefix DIR [--screen WxH] [--display] [--] [COMMAND [ARGS...]]
set -euo pipefail
. "$(dirname "$0")/lock.sh"
fail() { printf 'wine-session: %s\n' "$*" >&2; exit 2; }
usage() { fail "usage: $0 --prefix DIR [--screen WxH] [--display] [--] [COMMAND [ARGS...]]"; }
prefix="" screen=1024x768 display="" boot="" creation=""
while [ $# -gt 0 ]; do case "$1" in
    --prefix|--screen|--boot) [ $# -ge 2 ] || usage; declare "${1#--}=$2"; shift 2 ;;
    --display) display=--display; shift ;;
    --) shift; break ;;
    *) break ;;
esac; done
[ -n "$prefix" ] || usage
ready() { [ -f "$1/system.reg" ] && [ -f "$1/drive_c/windows/syswow64/kernel32.dll" ]; }
# Wine updates a prefix whose stamp (its number, CRLF after it) is not its wine.inf's time, at every start.
updated() { local s; s=$(cat "$1/.update-timestamp" 2>/dev/null) && [[ $s == disable* || ${s%%[!0-9]*} == "$(stat -c %Y /usr/share/wine/wine.inf)" ]]; }
links() { find "$prefix/drive_c/users" -type l "$@"; }
if ! isolated; then
    lock_isolatable || exit 2
    mkdir -p -- "$prefix" && prefix=$(cd -P -- "$prefix" && pwd -P && echo x) && prefix=${prefix%$'\nx'} || fail "cannot make '$prefix'"
    # Another user's files cannot be copied up through a user namespace (a root one's can).
    [ -O "$prefix" ] || { [ "$(id -u)" = 0 ] && [ "$(stat -c %u "$prefix")" != "$(cat /proc/sys/kernel/overflowuid)" ]; } ||
        fail "'$prefix' belongs to $(stat -c %U "$prefix"); a session takes only your own: remove it (sudo rm -rf '$prefix') or give another"
    if ! ready "$prefix" || ! updated "$prefix" || [ -n "$(links -print -quit)" ]; then
        lock_tree creation "$prefix" || exit 2
        command -v wine >/dev/null || fail "Wine is not installed; run 'sudo scripts/prerequisites.sh' once"
        if ! ready "$prefix"; then
            [ -z "$(ls -A "$prefix")" ] || fail "'$prefix' is neither a complete 32-bit Wine prefix nor empty, so it is left as" \
                "it is; give an empty or new folder, or a prefix made by 'wineboot -i' with 32-bit support"
            echo "wine-session: making the Wine prefix $prefix (half a minute, minutes where qemu-user runs 32-bit programs)" >&2
            unfinished=$(dirname "$prefix")/.$(basename "$prefix").korvanel-unfinished
            rm -rf -- "$unfinished" && mkdir -- "$unfinished" || fail "cannot write beside '$prefix'"
            isolate "$0" --prefix "$prefix" --boot "$unfinished" || exit
            ready "$unfinished" || fail "the new prefix has no 32-bit half, so 32-bit programs cannot run; run 'sudo scripts/prerequisites.sh' once, then run again"
            mv -T -- "$unfinished" "$prefix"
        elif ! updated "$prefix"; then
            echo "wine-session: bringing the Wine prefix $prefix up to date with the installed Wine" >&2
            isolate "$0" --prefix "$prefix" --boot "$prefix" || exit
        fi
        updated "$prefix" || fail "Wine did not bring '$prefix' up to date; remove it, and the next session makes a new one"
        links -exec rm {} \; -exec mkdir {} \;
        exec {creation}<&-
    fi
    [ $# = 0 ] || isolate "$0" --prefix "$prefix" --screen "$screen" ${display:+"$display"} -- "$@"; exit
fi

export WINEDEBUG=${WINEDEBUG:--all} WINEPREFIX=${boot:-$prefix} QEMU_RESERVED_VA=0x81000000   # quick 32-bit Wine under qemu-user
# No Mono or Gecko dialogs, no menu entries or file associations, and no crash dialog waiting for a click.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
[ -z "$boot" ] || { wine wineboot -i >/dev/null 2>&1 || :; exec wineserver -w; }  # the registry is written as the server ends
# DIR and TMPDIR by descriptors, whatever their paths hold. Only root's overlay may rename a folder
# of DIR; a user namespace's keeps its own marks in user xattrs, which tmpfs takes from Linux 6.6.
exec {below}<"$prefix" {above}<"$TMPDIR" && mkdir "$TMPDIR/up" "$TMPDIR/work"
[ "$(awk '{ print $2 }' /proc/self/uid_map)" = 0 ] && options=redirect_dir=on || options=userxattr
mount -t overlay overlay -o "lowerdir=/proc/self/fd/$below,upperdir=/proc/self/fd/$above/up,workdir=/proc/self/fd/$above/work,$options" "$prefix" ||
    fail "cannot lay an overlay over '$prefix', on $(stat -f -c %T "/proc/self/fd/$below") (docs/testing.md says where one can be had)"
exec {below}<&- {above}<&-
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
