# shellcheck shell=bash
# Sourced, not run: a private Wine session for one prefix.
#   wine_prefix_ensure PREFIX         creates the prefix, owned by whoever runs it, unless
#                                     it is ready; only in a new or empty folder, or one
#                                     whose creation it began itself, and else refuses
#   wine_session_start PREFIX [WxH]   refuses a folder that cannot be a prefix, takes the
#                                     prefix's lock (PREFIX.lock beside it; a second session
#                                     waits), ends what a dead session left on the prefix,
#                                     ensures the prefix, then starts an Xvfb screen (unless
#                                     use_display=1 and DISPLAY is set) and a wineserver of
#                                     its own
#   wine_session_run CMD [ARGS...]    runs CMD in the session, in the background and waited
#                                     for, so that a signal to the script is handled at once
#   wine_session_stop                 ends the session's server, and with it the prefix's
#                                     Wine processes, its screen, and whatever of the session
#                                     outlived its server, by their own process ids and the
#                                     session's mark, then frees the lock
# A prefix path is judged by the folder it really names, links resolved. Sets
# WINEPREFIX, DISPLAY and the variables Wine needs; PE32 programs run with
# /usr/lib/wine/wine, PE32+ ones with /usr/lib/wine/wine64 (wine_loader_for).
# Only the session's shell holds the lock: what it starts gets none of its
# descriptors (lock_free), so a session killed the hard way frees the prefix at
# once, and the next session ends what the dead one left running.
# shellcheck source=scripts/lock.sh
. "$(dirname "${BASH_SOURCE[0]}")/lock.sh"

wine_session_xvfb_pid=""
wine_session_server_pid=""
wine_session_server_dir=""
wine_session_work=""
wine_session_lock_fd=""
wine_session_id=""

wine_session_fail() {
    printf 'wine-session: %s\n' "$*" >&2
    return 2
}

# The Wine loader for a Windows program, by its PE format.
wine_loader_for() {
    case "$(file -b "$1")" in
        PE32+*) echo /usr/lib/wine/wine64 ;;
        PE32*)  echo /usr/lib/wine/wine ;;
        *) wine_session_fail "'$1' is not a Windows program" ;;
    esac
}

# The variables every Wine process of the prefix runs with.
wine_session_environment() {
    export WINEPREFIX=$1
    export WINEDEBUG=${WINEDEBUG:--all}
    # No Mono or Gecko install dialogs, and no menu entries or file associations
    # written into the user's home.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export QEMU_RESERVED_VA=0x81000000          # keeps 32-bit Wine quick where qemu-user runs it
}

# The file a prefix carries while this script is creating it. It names the
# folder and the user it was made for: a folder with it is ours to empty of
# what wineboot made and begin again; a folder without it is never touched.
wine_prefix_marker=.korvanel-prefix-unfinished
wine_prefix_marker_text() {
    printf 'an unfinished Wine prefix, made by Korvanel'"'"'s scripts\nfolder %s\nuser %s\n' "$1" "$(id -u)"
}
# What wineboot and wineserver put into a prefix, and nothing else.
wine_prefix_wineboot_files=(.update-timestamp dosdevices drive_c system.reg user.reg userdef.reg wineserver)

# Wine has set up both halves of a prefix: the registry and the 32-bit system folder.
wine_prefix_has_both_halves() {
    [ -f "$1/system.reg" ] && [ -f "$1/drive_c/windows/syswow64/kernel32.dll" ]
}

# A prefix is ready when it has both halves and its creation finished.
wine_prefix_is_ready() {
    wine_prefix_has_both_halves "$1" && [ ! -e "$1/$wine_prefix_marker" ]
}

# The folder PATH really names, links resolved; for a path that does not exist
# yet, its parent's (made if missing) with its own name. The root is no prefix.
wine_prefix_real_path() {
    local path=$1 real parent
    while [[ $path == */ ]]; do path=${path%/}; done
    [ -n "$path" ] || { wine_session_fail "'$1' is the root folder; give a folder of its own for the Wine prefix"; return 2; }
    if [ -L "$path" ] || [ -e "$path" ]; then
        [ -d "$path" ] || { wine_session_fail "'$1' is not a folder; give a folder for the Wine prefix"; return 2; }
        real=$(cd -P -- "$path" && pwd -P) || return 2
    else
        mkdir -p -- "$(dirname -- "$path")" || { wine_session_fail "cannot create the folder of '$1'"; return 2; }
        parent=$(cd -P -- "$(dirname -- "$path")" && pwd -P) || return 2
        real=${parent%/}/$(basename -- "$path")
    fi
    parent=$(cd -L -- "$(dirname -- "$path")" && pwd -L) || return 2
    [ "${parent%/}/$(basename -- "$path")" = "$real" ] ||
        echo "wine-session: '$1' leads through a link to '$real'; that folder is the prefix" >&2
    printf '%s\n' "$real"
}

wine_prefix_ensure() {
    local prefix
    prefix=$(wine_prefix_real_path "$1") || return 2
    wine_prefix_ensure_at "$prefix"
}

# True when the folder at the real path PREFIX is a prefix, or may become one.
wine_prefix_usable() {
    wine_prefix_is_ready "$1" || ! wine_prefix_refuses "$1"
}

# wine_prefix_ensure for a real path: refuses before a lock file is put beside
# the folder, and takes the prefix's lock to make it unless the session holds it.
wine_prefix_ensure_at() {
    local prefix=$1 fd=$wine_session_lock_fd status=0
    wine_prefix_is_ready "$prefix" && return 0
    wine_prefix_refuses "$prefix" && return 2
    [ -n "$fd" ] || lock_take fd "$prefix.lock" "the Wine prefix $prefix" || return 2
    wine_prefix_create "$prefix" || status=2
    [ -n "$wine_session_lock_fd" ] || exec {fd}>&-
    return $status
}

# True, with the reason, when the folder at the real path PREFIX may hold
# somebody's files: only a folder that is new, empty, or left unfinished by
# this script for this very folder and user is made into a prefix.
wine_prefix_refuses() {
    local prefix=$1 marker=$1/$wine_prefix_marker
    if [ -f "$marker" ]; then
        [ "$(cat "$marker")" = "$(wine_prefix_marker_text "$prefix")" ] && return 1
        wine_session_fail "'$prefix' carries the marker of an unfinished prefix made for another folder or user" \
            "($marker), so it is left as it is; give an empty or new folder"
    elif [ -d "$prefix" ] && [ -n "$(find "$prefix" -mindepth 1 -maxdepth 1 -print -quit)" ]; then
        wine_session_fail "'$prefix' is neither a complete 32-bit Wine prefix nor empty, so it is left as it is;" \
            "give an empty or new folder, or a prefix made by 'wineboot -i' with 32-bit support"
    else
        return 1
    fi
    return 0
}

# Makes a prefix at the real path PREFIX, under its lock.
wine_prefix_create() {
    local prefix=$1 marker=$1/$wine_prefix_marker
    wine_prefix_is_ready "$prefix" && return 0
    wine_prefix_refuses "$prefix" && return 2
    command -v wine >/dev/null || { wine_session_fail "Wine is not installed; run 'sudo scripts/prerequisites.sh' once"; return 2; }
    mkdir -p "$prefix" || { wine_session_fail "cannot create '$prefix'"; return 2; }
    # Wine refuses a prefix that belongs to someone else.
    if [ "$(stat -c %u "$prefix")" != "$(id -u)" ]; then
        wine_session_fail "'$prefix' belongs to another user; remove it (sudo rm -rf '$prefix') and run again"
        return 2
    fi
    echo "wine-session: creating the Wine prefix $prefix (about half a minute)" >&2
    if [ -f "$marker" ]; then
        # What an interrupted creation left; the marker stays until the prefix is ready.
        (cd "$prefix" && rm -rf -- "${wine_prefix_wineboot_files[@]}") || return 2
    else
        wine_prefix_marker_text "$prefix" >"$marker" || { wine_session_fail "cannot write into '$prefix'"; return 2; }
    fi
    (
        wine_session_environment "$prefix"
        lock_drop_all   # Wine's own processes may outlive this shell by seconds
        wine wineboot -i >/dev/null 2>&1 || true
        # A crash ends the program instead of waiting for a click on a screen nobody sees.
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
        wineserver -w
    )
    wine_prefix_has_both_halves "$prefix" || {
        wine_session_fail "the Wine prefix has no 32-bit half, so 32-bit Windows programs cannot run;" \
            "run 'sudo scripts/prerequisites.sh' once, then run again"
        return 2
    }
    grep -q '^"ShowCrashDialog"=dword:00000000' "$prefix/user.reg" ||
        { wine_session_fail "could not turn Wine's crash dialog off in '$prefix'"; return 2; }
    rm -f "$marker"
}

# True when the wineserver this session started serves the prefix: it holds
# the lock of the prefix's server folder. A second server for a prefix exits at
# once while the first one's socket stays, so a socket alone proves nothing.
wine_session_serves() {
    local lock
    [ -n "$wine_session_server_pid" ] && [ -n "$wine_session_server_dir" ] || return 1
    for lock in "/tmp/.wine-$(id -u)/$wine_session_server_dir/lock" /tmp/wine-*/"$wine_session_server_dir/lock"; do
        [ -e "$lock" ] && [ -S "${lock%lock}socket" ] || continue
        awk -v pid="$wine_session_server_pid" -v inode="$(stat -c %i "$lock")" \
            '$2 == "POSIX" && $5 == pid && $6 ~ (":" inode "$") { found = 1 } END { exit !found }' /proc/locks &&
            return 0
    done
    return 1
}

# The processes of this user whose environment holds the line LINE: a session's
# mark, or the prefix of any session.
wine_session_leftovers() {
    local environ
    for environ in /proc/[0-9]*/environ; do
        [ -O "$environ" ] && grep -qzxF "$1" "$environ" 2>/dev/null && basename "$(dirname "$environ")"
    done
    return 0
}

# Ends what sessions on the real path PREFIX left running when they were killed
# before their stop: processes of this user with a session's mark for this
# prefix. Only under the prefix's lock, which no live session holds then. A
# wineserver started by hand carries no mark and is left alone.
wine_session_end_orphans() {
    local pid stat alive orphans=()
    for pid in $(wine_session_leftovers "WINEPREFIX=$1"); do
        [ "$pid" != $$ ] && grep -qz '^KORVANEL_WINE_SESSION=' "/proc/$pid/environ" 2>/dev/null && orphans+=("$pid")
    done
    [ ${#orphans[@]} = 0 ] && return 0
    echo "wine-session: ending what a killed session left running on $1: processes ${orphans[*]}" >&2
    kill -KILL "${orphans[@]}" 2>/dev/null || true
    # Ended once /proc shows them no more, or as zombies, which hold nothing.
    for _ in $(seq 50); do
        alive=0
        for pid in "${orphans[@]}"; do
            stat=$(cat "/proc/$pid/stat" 2>/dev/null) || continue
            stat=${stat##*) }
            [ "${stat%% *}" = Z ] || alive=1
        done
        [ $alive = 0 ] && return 0
        sleep 0.1
    done
}

wine_session_start() {
    local prefix screen=${2:-1024x768}
    prefix=$(wine_prefix_real_path "$1") || return 2
    wine_prefix_usable "$prefix" || return 2   # before a lock file is put beside it
    lock_take wine_session_lock_fd "$prefix.lock" "the Wine prefix $prefix" || return 2
    wine_session_end_orphans "$prefix"
    wine_prefix_ensure_at "$prefix" || return 2
    wine_session_environment "$prefix"
    # Every process of the session inherits this mark, by which the stop knows its own.
    wine_session_id="$$.$RANDOM.$(date +%s%N)"
    export KORVANEL_WINE_SESSION=$wine_session_id
    wine_session_work=$(mktemp -d)

    if [ "${use_display:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
        :
    else
        # Xvfb picks a free display itself and writes its number to fd 3.
        lock_free Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp \
            3>"$wine_session_work/display" >"$wine_session_work/xvfb.log" 2>&1 &
        wine_session_xvfb_pid=$!
        for _ in $(seq 100); do
            [ -s "$wine_session_work/display" ] && break
            kill -0 "$wine_session_xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        [ -s "$wine_session_work/display" ] || { cat "$wine_session_work/xvfb.log" >&2; wine_session_fail "Xvfb did not start"; return 2; }
        local display
        display=$(head -n1 "$wine_session_work/display")
        export DISPLAY=":$display"
    fi

    # Wait until the server serves the prefix, or the first Wine process would
    # start a server itself. Wine keeps its folder in /tmp/.wine-UID or a
    # private /tmp/wine-XXXXXX folder.
    local dev ino
    read -r dev ino < <(stat -c '%d %i' "$prefix")
    wine_session_server_dir=$(printf 'server-%x-%x' "$dev" "$ino")
    lock_free wineserver -f -p >"$wine_session_work/wineserver.log" 2>&1 &
    wine_session_server_pid=$!
    for _ in $(seq 100); do
        wine_session_serves && return 0
        kill -0 "$wine_session_server_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$wine_session_work/wineserver.log" >&2
    if ! kill -0 "$wine_session_server_pid" 2>/dev/null; then
        wine_session_fail "another wineserver already serves $prefix, one this session did not start;" \
            "let it end, or stop it with WINEPREFIX='$prefix' wineserver -k"
    else
        wine_session_fail "wineserver did not start"
    fi
}

wine_session_stop() {
    if [ -n "$wine_session_server_pid" ]; then
        # Only the server this session started is stopped: -k ends every Wine
        # process of the prefix (services, explorer, the session's programs),
        # which are all this session's while it holds the prefix's lock.
        if wine_session_serves; then
            wineserver -k 2>/dev/null || true
        fi
        kill "$wine_session_server_pid" 2>/dev/null || true
        wait "$wine_session_server_pid" 2>/dev/null || true
        wine_session_server_pid=""
    fi
    if [ -n "$wine_session_xvfb_pid" ]; then
        kill "$wine_session_xvfb_pid" 2>/dev/null || true
        wait "$wine_session_xvfb_pid" 2>/dev/null || true
        wine_session_xvfb_pid=""
    fi
    if [ -n "$wine_session_id" ]; then
        # What outlived its server (a signal to the whole process group ends the
        # server first) is found by the session's mark, and only that.
        local leftovers
        mapfile -t leftovers < <(wine_session_leftovers "KORVANEL_WINE_SESSION=$wine_session_id")
        [ ${#leftovers[@]} = 0 ] || kill -KILL "${leftovers[@]}" 2>/dev/null || true
        wine_session_id=""
    fi
    [ -z "$wine_session_work" ] || rm -rf "$wine_session_work"
    wine_session_work=""
    if [ -n "$wine_session_lock_fd" ]; then
        exec {wine_session_lock_fd}>&-
        wine_session_lock_fd=""
    fi
}

wine_session_run() {
    lock_free "$@" <&0 &
    wait $!
}
