# shellcheck shell=bash disable=SC2064   # traps take their process ids as they are when set
# Sourced, not run: runs take turns on a build tree, and a run's processes end with it.
#   lock_tree VAR DIR    waits, at most KORVANEL_LOCK_WAIT seconds (1800), for an flock on the folder DIR
#                        itself (made if missing); its descriptor into VAR, or fails (2)
#   isolate SCRIPT ARGS  runs the bash script SCRIPT in PID and mount namespaces of its own (in a user
#                        namespace, for a normal user), where `isolated` is true; returns its status
lock_sh=${BASH_SOURCE[0]}
# Put before a command started with &, given the starting shell's process id: the kernel kills
# the command when that shell ends; one that ended before this was armed leaves no parent.
lock_orphan=(setpriv --pdeathsig KILL "$BASH" -c '[ "$PPID" = "$0" ] && exec "$@"')

lock_tree() {
    local lock_fd lock_wait=${KORVANEL_LOCK_WAIT:-1800} lock_me=$BASHPID
    while mkdir -p -- "$2" && exec {lock_fd}<"$2"; do
        if ! flock -n "$lock_fd"; then
            printf 'lock: waiting for the build tree %s, which another run is using (at most %s s)\n' "$2" "$lock_wait" >&2
            (exec {lock_fd}<&-; lock_holders "$2" | sed 's/^/lock:   the folder is open in process /' >&2)
            # In the background, so that a signal ends the wait at once.
            "${lock_orphan[@]}" "$lock_me" flock -w "$lock_wait" "$lock_fd" & wait $! ||
                { printf 'lock: gave up after %s s: another run still holds %s; let it finish, or wait longer with KORVANEL_LOCK_WAIT=SECONDS\n' "$lock_wait" "$2" >&2; return 2; }
        fi
        # The folder locked must be the one the path names, not one removed while this run waited.
        [ "$2" -ef "/proc/self/fd/$lock_fd" ] && { printf -v "$1" '%s' "$lock_fd"; return 0; }
        exec {lock_fd}<&-
    done
    return 2
}
# "PID command" of each other process with the folder DIR open, as far as /proc shows them.
lock_holders() {
    local fd pid seen=" $$ $BASHPID "
    while read -r fd; do
        pid=${fd#/proc/} pid=${pid%%/*}
        [[ $seen == *" $pid "* ]] || { seen+="$pid "; echo "$pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"; }
    done < <(find -L /proc/[0-9]*/fd -maxdepth 1 -samefile "$1" 2>/dev/null)
}

isolated() { [ "$PPID" = 1 ] && [ "${KORVANEL_INSIDE:-}" = "$0" ]; }
# The kernel ends every process of the namespaces when the first one ends, that one when unshare
# ends, and unshare when this shell ends, SIGKILL included. INT, TERM and HUP go on to the first
# process, which ends all the others; Ctrl-Z stops them all, as USR1, and fg, as USR2, resumes them.
isolate() {
    local ns=(--mount --pid --fork --kill-child --mount-proc) why pid status=0 signal me=$BASHPID
    [ "$(id -u)" = 0 ] || ns=(--user --map-root-user "${ns[@]}")
    why=$(unshare "${ns[@]}" true 2>&1) || { printf 'lock: no namespace can be made here (%s): %s\n' "$why" \
        "run where unshare may make user, mount and PID namespaces (docs/testing.md)" >&2; return 2; }
    "${lock_orphan[@]}" "$me" unshare "${ns[@]}" "$BASH" -c '. "$0"; lock_init "$@"' "$lock_sh" "$@" <&0 &
    pid=$!
    for signal in INT TERM HUP; do trap "lock_relay $pid $signal" $signal; done
    # Ctrl-Z, for the outermost run or a job of its own; inside another run's job, that run stops all.
    [ -n "${KORVANEL_INSIDE:-}" ] && [ "$(cut -d' ' -f5 "/proc/$me/stat")" != "$me" ] ||
        trap "lock_relay $pid USR1; kill -STOP $me; lock_relay $pid USR2" TSTP
    lock_wait "$pid" || status=$?
    trap - INT TERM HUP TSTP
    return $status
}
# Sends SIGNAL to the first process of unshare PID's namespace; before there is one, ends unshare.
lock_relay() {
    local first
    first=$(cat "/proc/$1/task/$1/children" 2>/dev/null) || first=""
    kill "-$2" $first 2>/dev/null || kill -KILL "$1" 2>/dev/null || true
}
# Waits for PID to end, past the traps that end a wait early; returns its status.
lock_wait() { local s; while wait "$1"; s=$?; [ $s -gt 128 ] && kill -0 "$1" 2>/dev/null; do :; done; return $s; }

# The namespace's first process: runs the script, and ends or stops every other process on a signal.
lock_init() {
    local signal
    trap 'kill -STOP -1' USR1; trap 'kill -CONT -1' USR2
    for signal in INT:130 TERM:143 HUP:129; do trap "lock_end ${signal#*:}" "${signal%:*}"; done
    KORVANEL_INSIDE=$1 "$BASH" "$@" <&0 &
    lock_wait $!
    exit
}
# TERM to every other process; what has not ended 2 s later, the kernel ends with this one.
lock_end() {
    trap '' INT TERM HUP   # a second signal does not cut this short
    kill -TERM -1 2>/dev/null
    for _ in $(seq 20); do kill -0 -1 2>/dev/null || break; sleep 0.1; done
    exit "$1"
}
