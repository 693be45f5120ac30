# shellcheck shell=bash
# Sourced, not run: exclusive locks, so that two runs at once take turns
# instead of harming each other (a build tree, a Wine prefix).
#   lock_take VAR FILE WHAT   opens FILE (created if missing), waits for an flock
#                             on it, saying what it waits for and which processes
#                             have FILE open, at most KORVANEL_LOCK_WAIT seconds (default
#                             1800); puts the descriptor into VAR, or fails (2)
#   lock_tree VAR DIR         the same for a build tree, on DIR.lock beside it
#   lock_free CMD [ARGS...]   runs CMD (exec: call it in a subshell or with &)
#                             without the descriptors of any lock (lock_drop_all)
# lock_take's own variables begin with lock_, so that VAR may be any other name.
# A lock lasts until its descriptor is closed (exec {VAR}>&-) and every process
# that inherited it has ended. So whatever may outlive the script that took it
# (a server, a screen, a Windows program) is started through lock_free: a script
# killed the hard way then leaves no lock held behind it.

lock_conflict=75   # flock's exit code for a lock held elsewhere, here and only here
lock_have_flock=""

lock_take() {
    local lock_var=$1 lock_file=$2 lock_what=$3 lock_wait=${KORVANEL_LOCK_WAIT:-1800} lock_fd lock_status=0
    if [ -z "$lock_have_flock" ]; then
        command -v flock >/dev/null ||
            { printf 'lock: flock is missing (Debian package util-linux), so %s cannot be locked\n' "$lock_file" >&2; return 2; }
        lock_have_flock=1
    fi
    exec {lock_fd}>>"$lock_file" || { printf 'lock: cannot open the lock file %s\n' "$lock_file" >&2; return 2; }
    flock -n -E $lock_conflict "$lock_fd" || lock_status=$?
    if [ $lock_status = $lock_conflict ]; then
        printf 'lock: waiting for %s, which another run is using (lock file %s; at most %s s)\n' \
            "$lock_what" "$lock_file" "$lock_wait" >&2
        # Asked without this shell's own descriptor, which its children would inherit.
        (exec {lock_fd}>&-; lock_holders "$lock_file" "$$" | sed 's/^/lock:   the lock file is open in process /' >&2)
        lock_status=0
        flock -w "$lock_wait" -E $lock_conflict "$lock_fd" || lock_status=$?
        if [ $lock_status = $lock_conflict ]; then
            printf 'lock: gave up after %s s waiting for %s: another run still holds %s;' "$lock_wait" "$lock_what" "$lock_file" >&2
            printf ' let it finish, or wait longer with KORVANEL_LOCK_WAIT=SECONDS\n' >&2
        elif [ $lock_status = 0 ]; then
            printf 'lock: %s is free, going on\n' "$lock_what" >&2
        fi
    fi
    if [ $lock_status != 0 ]; then
        [ $lock_status = $lock_conflict ] || printf 'lock: flock failed on %s (exit code %s)\n' "$lock_file" "$lock_status" >&2
        exec {lock_fd}>&-
        return 2
    fi
    printf -v "$lock_var" '%s' "$lock_fd"
}

lock_tree() {
    local dir=${2%/}
    mkdir -p "$(dirname "$dir")" || return 2
    lock_take "$1" "$dir.lock" "the build tree $dir"
}

# "PID command" of every process but EXCEPT_PID that has FILE open, as far as
# /proc lets this user see.
lock_holders() {
    local fd_path pid command seen=" ${2:-} "
    while read -r fd_path; do
        pid=${fd_path#/proc/}
        pid=${pid%%/*}
        [[ $seen == *" $pid "* ]] && continue
        seen+="$pid "
        command=$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline") && printf '%s %s\n' "$pid" "$command"
    done < <(find -L /proc/[0-9]*/fd -maxdepth 1 -samefile "$1" 2>/dev/null)
}

# Closes, in this shell, every descriptor bash opened for a {VAR}: it numbers
# them from 10 up, every lock among them. Those below 10 are redirections, kept.
lock_drop_all() {
    local fd
    for fd in /proc/"$BASHPID"/fd/*; do
        fd=${fd##*/}
        [ "$fd" -lt 10 ] || eval "exec $fd>&-"
    done
}

lock_free() {
    lock_drop_all
    exec "$@"
}
