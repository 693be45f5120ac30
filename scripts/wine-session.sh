# Sourced, not run: a private Wine session for one prefix.
#   wine_session_start PREFIX [WxH]   starts an Xvfb screen (unless use_display=1 and
#                                     DISPLAY is set) and a wineserver of its own
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

wine_session_start() {
    local prefix=$1 screen=${2:-1024x768}
    [ -f "$prefix/system.reg" ] || { wine_session_fail "no Wine prefix at '$prefix'; run scripts/prerequisites.sh first"; return 2; }
    prefix=$(cd "$prefix" && pwd)
    export WINEPREFIX=$prefix
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko install dialogs
    export QEMU_RESERVED_VA=0x81000000          # keeps 32-bit Wine quick where qemu-user runs it
    wine_session_work=$(mktemp -d)

    if [ "${use_display:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
        :
    else
        # Xvfb picks a free display itself and writes its number to fd 3.
        Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp \
            3>"$wine_session_work/display" >"$wine_session_work/xvfb.log" 2>&1 &
        wine_session_xvfb_pid=$!
        local i
        for i in $(seq 100); do
            [ -s "$wine_session_work/display" ] && break
            kill -0 "$wine_session_xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        [ -s "$wine_session_work/display" ] || { cat "$wine_session_work/xvfb.log" >&2; wine_session_fail "Xvfb did not start"; return 2; }
        export DISPLAY=":$(head -n1 "$wine_session_work/display")"
    fi

    # Wait for the server's socket, or the first Wine process would start a server
    # itself. Wine keeps it in /tmp/.wine-UID or a private /tmp/wine-XXXXXX folder.
    local dev ino server_dir
    read -r dev ino < <(stat -c '%d %i' "$prefix")
    server_dir=$(printf 'server-%x-%x' "$dev" "$ino")
    wineserver -f -p >"$wine_session_work/wineserver.log" 2>&1 &
    wine_session_server_pid=$!
    for i in $(seq 100); do
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
