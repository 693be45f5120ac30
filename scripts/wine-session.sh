# shellcheck shell=bash
# Sourced, not run: a private Wine session for one prefix.
#   wine_prefix_ensure PREFIX         creates the prefix, owned by whoever runs it, unless
#                                     it is ready; only in a new or empty folder, or one
#                                     whose creation it began itself, and else refuses
#   wine_session_start PREFIX [WxH]   the same, then starts an Xvfb screen (unless
#                                     use_display=1 and DISPLAY is set) and a wineserver
#                                     of its own
#   wine_session_stop                 ends the prefix's Wine processes, the server and
#                                     the screen, by their own process ids
# Sets WINEPREFIX, DISPLAY and the variables Wine needs; PE32 programs run with
# /usr/lib/wine/wine, PE32+ ones with /usr/lib/wine/wine64 (wine_loader_for).

wine_session_xvfb_pid=""
wine_session_server_pid=""
wine_session_work=""

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

# The file a prefix carries while this script is creating it. A folder with it
# is ours to empty and begin again; a folder without it is never touched.
wine_prefix_marker=.korvanel-prefix-unfinished

# A prefix is ready when Wine has set up both halves: the registry and the
# 32-bit system folder.
wine_prefix_is_ready() {
    [ -f "$1/system.reg" ] && [ -f "$1/drive_c/windows/syswow64/kernel32.dll" ]
}

wine_prefix_ensure() {
    local prefix=$1
    wine_prefix_is_ready "$prefix" && return 0
    if [ -e "$prefix" ] && [ ! -d "$prefix" ]; then
        wine_session_fail "'$prefix' is not a folder; give --prefix a folder for the Wine prefix"
        return 2
    fi
    # Only a folder that is new, empty, or left unfinished by this script is
    # made into a prefix: anything else may be somebody's files.
    if [ -d "$prefix" ] && [ ! -f "$prefix/$wine_prefix_marker" ] &&
        [ -n "$(find "$prefix" -mindepth 1 -maxdepth 1 -print -quit)" ]; then
        wine_session_fail "'$prefix' is neither a complete 32-bit Wine prefix nor empty, so it is left as it is;" \
            "give an empty or new folder, or a prefix made by 'wineboot -i' with 32-bit support"
        return 2
    fi
    command -v wine >/dev/null || { wine_session_fail "Wine is not installed; run 'sudo scripts/prerequisites.sh' once"; return 2; }
    mkdir -p "$prefix" || { wine_session_fail "cannot create '$prefix'"; return 2; }
    prefix=$(cd "$prefix" && pwd) || return 2
    # Wine refuses a prefix that belongs to someone else.
    if [ "$(stat -c %u "$prefix")" != "$(id -u)" ]; then
        wine_session_fail "'$prefix' belongs to another user; remove it (sudo rm -rf '$prefix') and run again"
        return 2
    fi
    echo "wine-session: creating the Wine prefix $prefix (about half a minute)" >&2
    if [ -f "$prefix/$wine_prefix_marker" ]; then
        # What an interrupted creation left; the marker stays until the prefix is ready.
        find "$prefix" -mindepth 1 -maxdepth 1 ! -name "$wine_prefix_marker" -exec rm -rf {} +
    else
        : >"$prefix/$wine_prefix_marker" || { wine_session_fail "cannot write into '$prefix'"; return 2; }
    fi
    (
        wine_session_environment "$prefix"
        wine wineboot -i >/dev/null 2>&1 || true
        wineserver -w
    )
    wine_prefix_is_ready "$prefix" || {
        wine_session_fail "the Wine prefix has no 32-bit half, so 32-bit Windows programs cannot run;" \
            "run 'sudo scripts/prerequisites.sh' once, then run again"
        return 2
    }
    rm -f "$prefix/$wine_prefix_marker"
}

wine_session_start() {
    local prefix=$1 screen=${2:-1024x768}
    wine_prefix_ensure "$prefix" || return 2
    prefix=$(cd "$prefix" && pwd)
    wine_session_environment "$prefix"
    wine_session_work=$(mktemp -d)

    if [ "${use_display:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
        :
    else
        # Xvfb picks a free display itself and writes its number to fd 3.
        Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp \
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

    # Wait for the server's socket, or the first Wine process would start a server
    # itself. Wine keeps it in /tmp/.wine-UID or a private /tmp/wine-XXXXXX folder.
    local dev ino server_dir
    read -r dev ino < <(stat -c '%d %i' "$prefix")
    server_dir=$(printf 'server-%x-%x' "$dev" "$ino")
    wineserver -f -p >"$wine_session_work/wineserver.log" 2>&1 &
    wine_session_server_pid=$!
    for _ in $(seq 100); do
        compgen -G "/tmp/.wine-$(id -u)/$server_dir/socket" >/dev/null && return 0
        compgen -G "/tmp/wine-*/$server_dir/socket" >/dev/null && return 0
        kill -0 "$wine_session_server_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$wine_session_work/wineserver.log" >&2
    wine_session_fail "wineserver did not start"
}

wine_session_stop() {
    if [ -n "$wine_session_server_pid" ]; then
        # Ends every Wine process of this prefix (services, explorer), then the server.
        wineserver -k 2>/dev/null || kill "$wine_session_server_pid" 2>/dev/null || true
        wait "$wine_session_server_pid" 2>/dev/null || true
        wine_session_server_pid=""
    fi
    if [ -n "$wine_session_xvfb_pid" ]; then
        kill "$wine_session_xvfb_pid" 2>/dev/null || true
        wait "$wine_session_xvfb_pid" 2>/dev/null || true
        wine_session_xvfb_pid=""
    fi
    [ -z "$wine_session_work" ] || rm -rf "$wine_session_work"
    wine_session_work=""
}
