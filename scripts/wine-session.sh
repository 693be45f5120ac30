#!/usr/bin/env bash
# A private Wine session on one prefix: a screen (a new Xvfb one, or with --display the
# user's if DISPLAY is set), a wineserver of its own, and COMMAND run in it (a Windows
# program through the Wine loader of its format); exits with COMMAND's status, or 2 when
# the session cannot be made. Without COMMAND it only makes the prefix, unless it is ready.
# Usage: scripts/wine-session.sh --prefix DIR [--screen WxH] [--display] [--] [COMMAND [ARGS...]]
#
# The prefix is the folder DIR really names, links resolved. A ready prefix is used as it
# is; a new or empty folder, or one whose creation this script began and did not finish,
# is made into one; anything else is refused and left as it is, and so is a prefix that a
# wineserver this session did not start serves, whatever its TMPDIR. The session holds an
# flock on the prefix folder, so that a second one waits, and runs in a PID namespace of
# its own (lock.sh's isolate): whatever ends it, the kernel ends what it started.
set -euo pipefail
. "$(dirname "$0")/lock.sh"

wine_session_fail() { printf 'wine-session: %s\n' "$*" >&2; return 2; }
usage() { echo "usage: $0 --prefix DIR [--screen WxH] [--display] [--] [COMMAND [ARGS...]]" >&2; exit 2; }

prefix="" screen=1024x768 display=""
while [ $# -gt 0 ]; do
    case "$1" in
        --prefix) [ $# -ge 2 ] || usage; prefix=$2; shift 2 ;;
        --screen) [ $# -ge 2 ] || usage; screen=$2; shift 2 ;;
        --display) display=--display; shift ;;
        --) shift; break ;;
        *) break ;;
    esac
done
# The prefix is always named: a Wine prefix is no place to guess.
[ -n "$prefix" ] || usage

# The folder in a prefix where this script makes it, moving its files into place once Wine
# has finished: all that an interrupted creation leaves is in there. Its file made-for names
# the folder and user it is for; such a folder is ours to remove and begin again.
wine_prefix_unfinished=.korvanel-prefix-unfinished
wine_prefix_marker_text() { printf 'an unfinished Wine prefix, made by Korvanel'"'"'s scripts\nfolder %s\nuser %s\n' "$1" "$(id -u)"; }

# Wine has set up both halves of a prefix: the registry and the 32-bit system folder.
wine_prefix_has_both_halves() { [ -f "$1/system.reg" ] && [ -f "$1/drive_c/windows/syswow64/kernel32.dll" ]; }

wine_prefix_is_ready() { wine_prefix_has_both_halves "$1" && [ ! -e "$1/$wine_prefix_unfinished/made-for" ]; }

# The folder PATH really names, links resolved, made (empty) if it does not exist. The
# root is no prefix, and a path with a control character (a newline would split it
# wherever it is matched) is none.
wine_prefix_real_path() {
    local path=$1 real parent
    [[ $path != *[[:cntrl:]]* ]] ||
        { wine_session_fail "$(printf '%q' "$1") holds a control character; give a folder without one"; return 2; }
    while [[ $path == */ ]]; do path=${path%/}; done
    [ -n "$path" ] || { wine_session_fail "'$1' is the root folder; give a folder of its own for the Wine prefix"; return 2; }
    [ -L "$path" ] || [ -e "$path" ] || mkdir -p -- "$path" || { wine_session_fail "cannot create '$1'"; return 2; }
    [ -d "$path" ] || { wine_session_fail "'$1' is not a folder; give a folder for the Wine prefix"; return 2; }
    real=$(cd -P -- "$path" && pwd -P && echo x) && real=${real%$'\nx'} || return 2   # x keeps a last newline
    [[ $real != *[[:cntrl:]]* ]] ||
        { wine_session_fail "'$1' leads to $(printf '%q' "$real"), which holds a control character; give a folder without one"; return 2; }
    parent=$(cd -L -- "$(dirname -- "$path")" && pwd -L) || return 2
    [ "${parent%/}/$(basename -- "$path")" = "$real" ] ||
        echo "wine-session: '$1' leads through a link to '$real'; that folder is the prefix" >&2
    printf '%s\n' "$real"
}

# True, with the reason, when the folder PREFIX may hold somebody's files: only a folder
# that is ready, new, empty, or left unfinished by this script for this very folder and
# user is used.
wine_prefix_refuses() {
    local prefix=$1 unfinished=$1/$wine_prefix_unfinished
    wine_prefix_is_ready "$prefix" && return 1
    if [ -e "$unfinished" ]; then
        [ "$(cat "$unfinished/made-for" 2>/dev/null)" = "$(wine_prefix_marker_text "$prefix")" ] && return 1
        wine_session_fail "'$prefix' carries the marker of an unfinished prefix made for another folder or user, or by older scripts" \
            "($unfinished), so it is left as it is; give an empty or new folder"
    elif [ -n "$(find "$prefix" -mindepth 1 -maxdepth 1 -print -quit)" ]; then
        wine_session_fail "'$prefix' is neither a complete 32-bit Wine prefix nor empty, so it is left as it is;" \
            "give an empty or new folder, or a prefix made by 'wineboot -i' with 32-bit support"
    else
        return 1
    fi
    return 0
}

# Ends, with SIGKILL, the processes of this user in the prefix that carry a session's
# mark for which TEST MARK succeeds, and waits until they are gone.
wine_session_end_marked() {
    local files file pid mark ended=()
    # Listed first, so that the search's own process has ended when the list is read.
    mapfile -t files < <(grep -lzxF -e "WINEPREFIX=$prefix" -e "WINEPREFIX=$prefix/$wine_prefix_unfinished" /proc/[0-9]*/environ 2>/dev/null)
    for file in "${files[@]}"; do
        pid=${file#/proc/} pid=${pid%/environ}
        [ "$pid" != $$ ] && [ -O "$file" ] && lock_alive "$pid" || continue
        mark=$(grep -zm1 '^KORVANEL_WINE_SESSION=' "$file" 2>/dev/null | tr -d '\0') || continue
        "$1" "${mark#*=}" && ended+=("$pid")
    done
    [ ${#ended[@]} = 0 ] && return 0
    [ "$1" = wine_session_mark_is_mine ] ||
        echo "wine-session: ending what a killed session left running on $prefix: processes ${ended[*]}" >&2
    kill -KILL "${ended[@]}" 2>/dev/null || true
    for pid in "${ended[@]}"; do
        for _ in $(seq 50); do lock_alive "$pid" || break; sleep 0.1; done
    done
}
wine_session_mark_is_dead() { ! lock_alive "${1% *}" "${1#* }"; }
wine_session_mark_is_mine() { [ "$1" = "$KORVANEL_WINE_SESSION" ]; }

# Outside the namespace: the prefix is judged and locked, so that a second session waits
# here, where it can name the processes that hold the prefix.
if ! isolated; then
    [ -d "${TMPDIR:-/tmp}" ] || { wine_session_fail "TMPDIR '${TMPDIR:-}' is no folder; make it, or unset TMPDIR"; exit 2; }
    prefix=$(wine_prefix_real_path "$prefix") || exit 2
    [ -O "$prefix" ] || { wine_session_fail "'$prefix' belongs to $(stat -c %U "$prefix"), and Wine takes only your own: remove it (sudo rm -rf '$prefix') or give another"; exit 2; }
    ! wine_prefix_refuses "$prefix" || exit 2
    lock_take session_lock "$prefix" "the Wine prefix $prefix" || exit 2
    wine_session_end_marked wine_session_mark_is_dead
    # A wineserver holds its prefix folder open, wherever its TMPDIR put its socket.
    foreign=$(lock_holders "$prefix" $$ | grep '^[0-9]* [^ ]*wineserver[^ ]* ') && foreign=${foreign%% *} &&
        { wine_session_fail "another wineserver already serves $prefix (process $foreign), one this session did not start;" \
            "let it end, or stop it with kill $foreign"; exit 2; }
    isolate "$0" --prefix "$prefix" --screen "$screen" ${display:+"$display"} -- "$@"
fi

# Every process of the session inherits its mark: the session's shell, by process id
# and start time. Where no namespace ends them, a later session ends what carries the
# mark of a shell that is gone, and nothing else.
wine_session_stat=$(lock_process $$)
export KORVANEL_WINE_SESSION="$$ ${wine_session_stat#* }"
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install dialogs, and no menu entries or file associations written
# into the user's home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
export QEMU_RESERVED_VA=0x81000000   # keeps 32-bit Wine quick where qemu-user runs it
# Xvfb's and the server's messages, shown only when they fail to start; a file that is
# gone once its descriptor closes, so that no way of ending leaves it behind.
wine_session_log=$(mktemp)
exec {wine_session_log_fd}<>"$wine_session_log"
rm -f "$wine_session_log"
wine_session_server="" wine_session_xvfb=""

# True when the wineserver this session started serves the prefix: it holds the lock
# of its server folder, wherever Wine put that (under TMPDIR, if set), and the socket
# is there. A second server for a prefix exits at once while the first one's socket
# stays, so a socket alone proves nothing.
wine_session_serves() {
    local lock
    [ -n "$wine_session_server" ] || return 1
    lock=$(find "/proc/$wine_session_server/fd" -lname '*/server-*/lock' -printf '%l\n' -quit 2>/dev/null)
    [ -n "$lock" ] && [ -S "${lock%lock}socket" ] &&
        awk -v pid="$wine_session_server" '$2 == "POSIX" && $5 == pid { found = 1 } END { exit !found }' /proc/locks
}

wine_session_server_start() {
    lock_free wineserver -f -p 2>&"$wine_session_log_fd" &
    wine_session_server=$!
    for _ in $(seq 100); do
        wine_session_serves && return 0
        lock_alive "$wine_session_server" || break
        sleep 0.1
    done
    cat "/dev/fd/$wine_session_log_fd" >&2
    wine_session_fail "wineserver did not start on $WINEPREFIX"
}

# Ends the session's server and with it every Wine process of the prefix, which are
# all this session's while it holds the prefix; the server saves the registry first.
wine_session_server_stop() {
    [ -n "$wine_session_server" ] || return 0
    ! wine_session_serves || timeout 10 wineserver -k 2>/dev/null || true
    kill "$wine_session_server" 2>/dev/null || true
    wait "$wine_session_server" 2>/dev/null || true
    wine_session_server=""
}

wine_session_stop() {
    trap '' INT TERM HUP   # a second signal does not cut the stop short
    wine_session_server_stop
    [ -z "${wine_session_creating:-}" ] || wine_prefix_finish || true
    [ -z "$wine_session_xvfb" ] || { kill "$wine_session_xvfb"; wait "$wine_session_xvfb"; } 2>/dev/null || true
    wine_session_end_marked wine_session_mark_is_mine
}

# Runs CMD in the background and waits, so that a signal is handled at once.
wine_session_run() {
    lock_free "$@" <&0 &
    wait $!
}

# Makes the prefix, under its lock, in its unfinished folder; what an earlier creation
# left there goes first.
wine_prefix_create() {
    local unfinished=$prefix/$wine_prefix_unfinished
    command -v wine >/dev/null || { wine_session_fail "Wine is not installed; run 'sudo scripts/prerequisites.sh' once"; return 2; }
    wine_session_creating=1
    echo "wine-session: creating the Wine prefix $prefix (half a minute, or minutes where qemu-user runs 32-bit programs)" >&2
    rm -rf -- "$unfinished" && mkdir -- "$unfinished" && wine_prefix_marker_text "$prefix" >"$unfinished/made-for" ||
        { wine_session_fail "cannot write into '$prefix'"; return 2; }
    export WINEPREFIX=$unfinished
    wine_session_server_start || return 2
    wine_session_run wine wineboot -i >/dev/null 2>&1 || true
    wine_prefix_no_crash_dialog
    wine_session_server_stop
    wine_prefix_finish && return 0
    wine_prefix_has_both_halves "$unfinished" ||
        wine_session_fail "the Wine prefix has no 32-bit half, so 32-bit Windows programs cannot run;" \
            "run 'sudo scripts/prerequisites.sh' once, then run again" || return 2
    wine_session_fail "could not turn Wine's crash dialog off in '$prefix'"
}

# A crash ends the program, not waiting for a click nobody gives (older scripts' prefixes lack it).
wine_prefix_crash_dialog_off() { grep -qs '^"ShowCrashDialog"=dword:00000000' "$1/user.reg"; }
wine_prefix_no_crash_dialog() {
    wine_prefix_crash_dialog_off "$WINEPREFIX" || wine_session_run wine reg add \
        'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
}

# Moves into place a prefix that Wine has finished: both halves are there, and the crash
# dialog is off in the registry the server saved, which wineboot's end precedes. Also at
# the stop, so that a signal between the two leaves no ready prefix unfinished.
wine_prefix_finish() {
    local unfinished=$prefix/$wine_prefix_unfinished
    wine_prefix_has_both_halves "$unfinished" && wine_prefix_crash_dialog_off "$unfinished" || return 1
    find "$unfinished" -mindepth 1 -maxdepth 1 ! -name made-for -exec mv -t "$prefix" -- {} + &&
        rm -r -- "$unfinished" && export WINEPREFIX=$prefix
}

# Inside the namespace, under the prefix's lock.
trap 'exit 130' INT; trap 'exit 143' TERM; trap 'exit 129' HUP
trap wine_session_stop EXIT
if ! wine_prefix_is_ready "$prefix"; then
    # Judged again: the folder may have changed while this session waited for it.
    ! wine_prefix_refuses "$prefix" || exit 2
    wine_prefix_create || exit 2
fi
[ $# -gt 0 ] || exit 0

loader=""
case "$(file -b -- "$1" 2>/dev/null)" in
    PE32+*) loader=/usr/lib/wine/wine64 ;;
    PE32*)  loader=/usr/lib/wine/wine ;;
esac
[ -z "$loader" ] || { export WINELOADER=$loader; set -- "$loader" "$@"; }

if [ -z "$display" ] || [ -z "${DISPLAY:-}" ]; then
    # Xvfb picks a free display itself and writes its number.
    exec {wine_session_display_fd}< <(lock_free Xvfb -displayfd 1 -screen 0 "${screen}x24" -nolisten tcp \
        2>&"$wine_session_log_fd")
    wine_session_xvfb=$!
    read -r -t 10 -u "$wine_session_display_fd" wine_session_display ||
        { cat "/dev/fd/$wine_session_log_fd" >&2; wine_session_fail "Xvfb did not start"; exit 2; }
    export DISPLAY=":$wine_session_display"
fi
wine_session_server_start || exit 2
wine_prefix_no_crash_dialog
status=0
wine_session_run "$@" || status=$?
exit $status
