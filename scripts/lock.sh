# shellcheck shell=bash disable=SC2064   # traps take their process ids as they are when set
# Sourced, not run: runs take turns on a build tree, and a run's processes and files end with it.
#   lock_tree VAR DIR  waits (KORVANEL_LOCK_WAIT seconds, 1800) for an flock on the folder DIR (made
#                      if missing); its descriptor into VAR, or fails (2)
#   isolate SCRIPT ARGS  runs the bash script SCRIPT in PID and mount namespaces (and, for a normal
#                      user, a user namespace) of its own, with TMPDIR a tmpfs of its own; its status
#   lock_run [--set-up] TREE... -- SCRIPT ARGS  a script's way in: prerequisites.sh (--set-up), each
#                      build tree's lock, then SCRIPT isolated, where `isolated` is true; exits with it
#   lock_temp VAR NAME a new folder NAME.XXXXXX in TMPDIR into VAR, locked while descriptor lock_tmp is
#                      open; the next call removes one a killed run left, once a minute old and free
lock_sh=${BASH_SOURCE[0]}
lock_ns=(--mount --pid --fork --kill-child --mount-proc)
[ "$(id -u)" = 0 ] || lock_ns=(--user --map-root-user "${lock_ns[@]}")
# Before a command started with &, given its shell's process id: the kernel kills it when that shell ends.
lock_orphan=(setpriv --pdeathsig KILL "$BASH" -c '[ "$PPID" = "$0" ] && exec "$@"')

lock_tree() {
    local lock_fd lock_wait=${KORVANEL_LOCK_WAIT:-1800} lock_me=$BASHPID
    while mkdir -p -- "$2" && exec {lock_fd}<"$2"; do
        if ! flock -n "$lock_fd"; then
            printf 'lock: waiting for %s, which another run is using (%s); at most %s s\n' "$2" \
                "$(exec {lock_fd}<&-; lock_holder "$2" "$lock_me")" "$lock_wait" >&2
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
# "process PID: COMMAND" of the oldest process but PID with the folder DIR open, as /proc shows it.
lock_holder() {
    local pid; pid=$(find -L /proc/[0-9]*/fd -maxdepth 1 -samefile "$1" 2>/dev/null | cut -d/ -f3 | grep -vx "$2" | sort -n | head -n 1)
    printf 'process %s: %s' "${pid:-that has just ended}" "$(tr '\0' ' ' 2>/dev/null <"/proc/${pid:-none}/cmdline")"
}
lock_run() {
    [ "$1" != --set-up ] || { shift; "${lock_sh%/*}/prerequisites.sh" >&2 || exit; }
    while [ "$1" != -- ]; do lock_tree lock_run_fd "$1" || exit 2; shift; done
    shift; isolate "$@"; exit
}
lock_temp() {
    local lock_base=${TMPDIR:-/tmp}   # a name of its own: VAR may be any of the caller's
    [ -d "$lock_base" ] || { printf 'lock: TMPDIR is %s, which is no folder; make it, or point TMPDIR at one\n' "$lock_base" >&2; return 2; }
    find "$lock_base" -maxdepth 1 -name "$2.??????" -user "$(id -u)" -type d -mmin +1 -exec flock -n {} rm -rf {} \; 2>/dev/null || :
    printf -v "$1" '%s' "$(mktemp -d "$lock_base/$2.XXXXXX")" && exec {lock_tmp}<"${!1}" && flock "$lock_tmp"
}
isolated() { [ "$PPID" = 1 ] && [ "${KORVANEL_INSIDE:-}" = "$0" ]; }
lock_isolatable() {
    local why; why=$(unshare "${lock_ns[@]}" true 2>&1) && return
    printf 'lock: no namespace can be made here (%s): run where unshare may make user, mount and PID namespaces (docs/testing.md)\n' "$why" >&2; return 2
}
# The kernel ends all processes of the namespaces with the first, that with unshare, and unshare with this shell,
# SIGKILL included. INT, TERM and HUP go on to the first, which ends the rest; Ctrl-Z and fg stop and resume them.
isolate() {
    local pid status=0 signal me=$BASHPID tmp lock_signal="" lock_tmp
    lock_isolatable && lock_temp tmp korvanel-run || return 2
    # A background command of a shell without job control would start with INT and QUIT ignored.
    "${lock_orphan[@]}" "$me" env --default-signal=INT,QUIT unshare "${lock_ns[@]}" \
        "$BASH" -c '. "$0"; lock_init "$@"' "$lock_sh" "$tmp" "$@" <&0 &
    pid=$!
    for signal in INT TERM HUP; do trap "lock_signal=$signal; lock_relay $pid $signal" $signal; done
    # Ctrl-Z, for the outermost run or a job of its own; inside another run's job, that run stops all.
    [ -n "${KORVANEL_INSIDE:-}" ] && [ "$(cut -d' ' -f5 "/proc/$me/stat")" != "$me" ] ||
        trap "lock_relay $pid USR1; kill -STOP $me; lock_relay $pid USR2" TSTP
    lock_wait "$pid" || status=$?
    trap - INT TERM HUP TSTP
    exec {lock_tmp}<&-; rmdir -- "$tmp" || :
    [ -z "$lock_signal" ] || status=$((128 + $(kill -l "$lock_signal")))
    return $status
}
# SIGNAL to the first process of unshare PID's namespace; it would drop INT, TERM or HUP until its traps are set.
lock_relay() {
    local first="" caught=""; read -r first _ <"/proc/$1/task/$1/children" 2>/dev/null || :
    [ -z "$first" ] || caught=$(sed -n 's/^SigCgt:\s*//p' "/proc/$first/status" 2>/dev/null) || :
    if (( 16#${caught:-0} >> ($(kill -l "$2") - 1) & 1 )); then kill "-$2" "$first"
    elif [[ $2 != USR? ]]; then kill -KILL "$1"; fi 2>/dev/null || true
}
# Waits for PID to end, past the traps that end a wait early; returns its status.
lock_wait() { local s; while wait "$1"; s=$?; [ $s -gt 128 ] && kill -0 "$1" 2>/dev/null; do :; done; return $s; }
# The namespace's first process: mounts TMPDIR, runs the script, ends or stops the rest on a signal.
lock_init() {
    local signal; trap 'kill -STOP -1' USR1; trap 'kill -CONT -1' USR2
    for signal in INT:130 TERM:143 HUP:129; do trap "lock_end ${signal#*:}" "${signal%:*}"; done
    mount -t tmpfs tmpfs "$1" && export TMPDIR=$1 && shift || exit 2
    KORVANEL_INSIDE=$1 "$BASH" "$@" <&0 &
    lock_wait $!
    exit
}
# TERM to every other process; what has not ended 2 s later, the kernel ends with this one.
lock_end() {
    trap : INT TERM HUP; kill -TERM -1 2>/dev/null   # a second signal does not cut this short
    for _ in $(seq 20); do kill -0 -1 2>/dev/null || break; sleep 0.1; done; exit "$1"
}
