# shellcheck shell=bash
# Sourced, not run: what lets two runs at once take turns, and ends a run's processes
# with it, however it ends.
#   lock_take VAR DIR WHAT    waits, at most KORVANEL_LOCK_WAIT seconds (1800), for an
#                             flock on the folder DIR itself, saying what it waits for
#                             and who has DIR open; puts the descriptor into VAR, or fails (2)
#   lock_tree VAR DIR         the same for a build tree, made if missing
#   lock_free CMD [ARGS...]   execs CMD without the descriptors of any lock
#   isolate SCRIPT [ARGS...]  runs the bash script SCRIPT in a PID namespace of its own, and
#                             exits with its status; `isolated` is then true in SCRIPT
# A lock lasts until every process holding its descriptor has ended. On the folder
# itself there is no lock file to delete apart from what it guards. lock_take's own
# variables begin with lock_, so that VAR may be any other name.

lock_conflict=75   # flock's exit code for a lock held elsewhere, here and only here

lock_take() {
    local lock_var=$1 lock_dir=$2 lock_what=$3 lock_wait=${KORVANEL_LOCK_WAIT:-1800} lock_fd lock_status=0 lock_me=$BASHPID
    exec {lock_fd}<"$lock_dir" || { printf 'lock: cannot open the folder %s\n' "$lock_dir" >&2; return 2; }
    flock -n -E $lock_conflict "$lock_fd" || lock_status=$?
    if [ $lock_status = $lock_conflict ]; then
        printf 'lock: waiting for %s, which another run is using (at most %s s)\n' "$lock_what" "$lock_wait" >&2
        # Asked without this shell's own descriptor, which its children would inherit.
        (exec {lock_fd}<&-; lock_holders "$lock_dir" "$$" | sed 's/^/lock:   the folder is open in process /' >&2)
        lock_status=0
        # Waited for in the background, so that a signal ends the wait at once; the
        # kernel ends flock with this shell.
        "${lock_orphan[@]}" "$lock_me" flock -w "$lock_wait" -E $lock_conflict "$lock_fd" &
        wait $! || lock_status=$?
        if [ $lock_status = $lock_conflict ]; then
            printf 'lock: gave up after %s s waiting for %s: another run still holds it; let it finish, or wait longer with KORVANEL_LOCK_WAIT=SECONDS\n' "$lock_wait" "$lock_what" >&2
        elif [ $lock_status = 0 ]; then
            printf 'lock: %s is free, going on\n' "$lock_what" >&2
        fi
    fi
    if [ $lock_status != 0 ]; then
        [ $lock_status = $lock_conflict ] || printf 'lock: flock failed on %s (exit code %s)\n' "$lock_dir" "$lock_status" >&2
        exec {lock_fd}<&-
        return 2
    fi
    printf -v "$lock_var" '%s' "$lock_fd"
}

lock_tree() { mkdir -p "$2" && lock_take "$1" "$2" "the build tree ${2%/}"; }

# "PID command" of every process but EXCEPT_PID that has PATH open, as far as
# /proc lets this user see.
lock_holders() {
    local fd_path pid command seen=" ${2:-} "
    while read -r fd_path; do
        pid=${fd_path#/proc/} pid=${pid%%/*}
        [[ $seen == *" $pid "* ]] && continue
        seen+="$pid "
        command=$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline") && printf '%s %s\n' "$pid" "$command"
    done < <(find -L /proc/[0-9]*/fd -maxdepth 1 -samefile "$1" 2>/dev/null)
}

# Runs CMD without the descriptors bash opened for a {VAR}: it numbers them from 10
# up, every lock among them. Those below 10 are redirections, kept.
lock_free() {
    local fd
    for fd in /proc/self/fd/*; do
        fd=${fd##*/}
        [ "$fd" -lt 10 ] || eval "exec $fd>&-"
    done
    exec "$@"
}

# "STATE START" of process PID: its state letter and start time (/proc/PID/stat's 22nd field).
lock_process() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    read -r -a stat <<<"${stat##*) }" && echo "${stat[0]} ${stat[19]}"
}
# True while process PID runs (a zombie has ended) and, given START, started then.
lock_alive() {
    local state start
    read -r state start < <(lock_process "$1") && [ "$state" != Z ] && { [ -z "${2:-}" ] || [ "$start" = "$2" ]; }
}

# The script that isolate started, by its parent (0 when that is outside the namespace) and path.
isolated() { [ "${KORVANEL_INSIDE:-}" = "$PPID $0" ]; }

# Put before a command started with &, given this shell's process id: the kernel kills the
# command when this shell ends; a shell that ended before that was armed left it no parent to run for.
lock_orphan=(setpriv --pdeathsig KILL "$BASH" -c '[ "$PPID" = "$0" ] && exec "$@"')

# Whether this machine makes PID namespaces, found once a run and kept for the
# scripts it starts in KORVANEL_NAMESPACE: pid (root), user (a normal user, in a
# user namespace of its own), or none (some containers refuse them).
lock_namespace_kind() {
    [ -z "${KORVANEL_NAMESPACE:-}" ] || return 0
    local why
    if unshare --pid --fork --kill-child --mount-proc true 2>/dev/null; then
        KORVANEL_NAMESPACE=pid
    elif why=$(unshare --user --map-current-user --pid --fork --kill-child --mount-proc true 2>&1); then
        KORVANEL_NAMESPACE=user
    else
        KORVANEL_NAMESPACE=none
        printf 'lock: no PID namespace can be made here (%s), so a run killed with SIGKILL may leave processes behind: the next Wine session on the prefix ends those of dead sessions\n' "$why" >&2
    fi
    export KORVANEL_NAMESPACE
}

# The kernel ends every process of the namespace when its first one ends, that one when
# unshare ends, and unshare when this shell ends, SIGKILL included. A signal to this shell
# sends TERM to the script's process group (a build removes what it half wrote, a Wine
# session saves its registry) and SIGKILL 2 s later; Ctrl-Z stops all it started.
isolate() {
    local pid status=0 signal namespace=(unshare --pid --fork --kill-child --mount-proc) parent=0
    lock_namespace_kind
    [ "$KORVANEL_NAMESPACE" != user ] || namespace=(unshare --user --map-current-user "${namespace[@]:1}")
    [ "$KORVANEL_NAMESPACE" != none ] || namespace=() parent=$$
    KORVANEL_INSIDE="$parent $1" setsid "${lock_orphan[@]}" $$ "${namespace[@]}" "$BASH" "$@" <&0 &
    pid=$!
    # shellcheck disable=SC2064   # the group's id, now
    for signal in INT:130 TERM:143 HUP:129; do trap "lock_end_group $pid ${signal#*:}" "${signal%:*}"; done
    # shellcheck disable=SC2064
    trap "lock_signal_tree STOP $pid; kill -STOP $$; lock_signal_tree CONT $pid" TSTP
    while wait "$pid"; [ $? -gt 128 ] && lock_alive "$pid"; do :; done   # a trap ends a wait early
    wait "$pid" || status=$?
    exit "$status"
}

# Sends SIGNAL to process PID, then to each process it started, and theirs: nested
# namespaces and groups included, each stopped before its children are read.
lock_signal_tree() {
    local child
    kill "-$1" "$2" 2>/dev/null || return 0
    for child in $(cat "/proc/$2/task/"*/children 2>/dev/null); do lock_signal_tree "$1" "$child"; done
}

lock_end_group() {
    local tenths=20
    [ -z "${KORVANEL_INSIDE:-}" ] || tenths=10   # a run inside another has less time, so that it ends first
    trap '' INT TERM HUP   # a second signal does not cut this short
    kill -TERM -- "-$1" 2>/dev/null || true
    for _ in $(seq $tenths); do kill -0 -- "-$1" 2>/dev/null || break; sleep 0.1; done   # the whole group
    { kill -KILL -- "-$1"; wait "$1"; } 2>/dev/null || true
    exit "$2"
}
