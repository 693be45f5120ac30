# shellcheck shell=bash
# Sourced, not run: exclusive locks, so that two runs at once take turns
# instead of harming each other (a build tree, a Wine prefix).
#   lock_take VAR FILE WHAT   opens FILE (created if missing), waits for an flock
#                             on it, saying what it waits for, at most
#                             KORVANEL_LOCK_WAIT seconds (default 1800); puts the
#                             descriptor into VAR, or fails (2) past the limit
#   lock_tree VAR DIR         the same for a build tree, on DIR.lock beside it
# A lock lasts until its descriptor is closed (exec {VAR}>&-) and every process
# that inherited it has ended, so a session's own programs keep it held.

lock_take() {
    local var=$1 file=$2 what=$3 wait=${KORVANEL_LOCK_WAIT:-1800} fd
    exec {fd}>>"$file" || { printf 'lock: cannot open the lock file %s\n' "$file" >&2; return 2; }
    if ! flock -n "$fd"; then
        printf 'lock: waiting for %s, which another run is using (lock file %s; at most %s s)\n' \
            "$what" "$file" "$wait" >&2
        if ! flock -w "$wait" "$fd"; then
            exec {fd}>&-
            printf 'lock: gave up after %s s waiting for %s: another run still holds %s;' "$wait" "$what" "$file" >&2
            printf ' let it finish, or wait longer with KORVANEL_LOCK_WAIT=SECONDS\n' >&2
            return 2
        fi
        printf 'lock: %s is free, going on\n' "$what" >&2
    fi
    printf -v "$var" '%s' "$fd"
}

lock_tree() {
    local dir=${2%/}
    mkdir -p "$(dirname "$dir")" || return 2
    lock_take "$1" "$dir.lock" "the build tree $dir"
}
