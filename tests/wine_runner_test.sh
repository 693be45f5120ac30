#!/usr/bin/env bash
# Wine sessions keep to themselves, and what they start ends with them.
# - The set-up, run from under its TMPDIR with stand-ins for root, dpkg and apt: a failed index is tried
#   again, then left out for that install only, or the script stops with exit 1 and says what to run;
#   without 32-bit support and binfmt_misc, its qemu-user registration is there once it has ended.
# - Making a prefix, with a stand-in wine: a folder with files that is no prefix is refused and left as
#   it is; SIGKILL while Wine makes one leaves nothing running and only folders the next creation
#   replaces; Wine's links to the home folder become folders; a prefix older than the installed Wine
#   is brought up to date once, with nothing of it deleted.
# - Sessions on the ready prefix READY: the exit code comes back; two at once each see their own
#   registry, Documents and a folder of READY removed and made again (as root, renamed); crashes of
#   32-bit and 64-bit programs end their sessions, not with 0; nothing links out of READY but its drives,
#   and no session writes under READY, TMPDIR or the home folder.
# - Signals to a session, and to a script that runs one: Ctrl-Z stops the program and fg resumes it;
#   TERM ends everything within 5 s (143), Ctrl-C too (130), SIGKILL within 2 s; a TERM before the
#   session's namespace is ready is not lost.
# The test runs in namespaces of its own, so that whatever a failed row leaves goes with it.
# Usage: wine_runner_test.sh READY     (made if it is not a prefix yet)
set -uo pipefail
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)
. "$scripts/lock.sh"
isolated || { isolate "$0" "$@"; exit; }
session=$scripts/wine-session.sh ready=$1 work=$TMPDIR/work status=0 held=""
mkdir -p "$work/bin" "$work/folder" "$work/tmp" "$work/slow" && cp -r "$scripts" "$work/scripts"
fail() { echo "FAILED: $*"; status=1; }

# The set-up on a mirror mid-sync.
mkdir -p "$work/apt/bin" "$work/apt/etc/parts"
printf 'deb [arch=amd64 signed-by=/k.gpg] http://deb.example/security/ bookworm-security main\ndeb http://deb.example/debian bookworm main\n' \
    >"$work/apt/etc/sources.list"
printf 'Types: deb\nURIs: http://deb.example/debian\nSuites: bookworm bookworm-updates\nComponents: main\n\nTypes: deb\nURIs: http://deb.example/security\nSuites: bookworm-security\nComponents: main\n' \
    >"$work/apt/etc/parts/debian.sources"
cat >"$work/apt/bin/apt-get" <<'STANDIN'
#!/bin/bash
# $APT_MODE: mid-sync (the security index fails), once (the first update fails), broken (nothing installs)
calls=$APT_WORK/calls; echo "$*" >>"$calls"
case " $* " in
*" update "*)
    parts=$(printf '%s\n' "$@" | sed -n 's/^Dir::Etc::SourceParts=//p')
    if [ -n "$parts" ]; then cat "$parts"/* >"$APT_WORK/fallback-sources"; exit 0; fi
    [ "$APT_MODE" = once ] && [ "$(grep -c update "$calls")" -gt 1 ] && exit 0
    echo "Err:4 http://deb.example/security bookworm-security/main i386 Packages"
    echo "  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
*" install "*) [ "$APT_MODE" != broken ] ;;
esac
STANDIN
printf '#!/bin/sh\necho 0\n' >"$work/apt/bin/id"
printf '#!/bin/sh\nexit 1\n' >"$work/apt/bin/dpkg-query"
printf '#!/bin/sh\necho i386\n' >"$work/apt/bin/dpkg"
printf '#!/bin/sh\necho "list=%s parts=%s"\n' "$work/apt/etc/sources.list" "$work/apt/etc/parts/" >"$work/apt/bin/apt-config"
chmod +x "$work/apt/bin/"*
# set_up MODE [COMMAND...]: a copy of prerequisites.sh under its own TMPDIR, with the stand-ins.
set_up() { APT_MODE=$1 APT_WORK=$work/apt KORVANEL_APT_PAUSE=0 TMPDIR=$work PATH="$work/apt/bin:$PATH" "${@:2}" "$work/scripts/prerequisites.sh" 2>&1; }
# prerequisites_case NAME MODE EXPECTED_STATUS EXPECTED_MESSAGE UPDATES
prerequisites_case() {
    local got got_status updates
    rm -f "$work/apt/calls" "$work/apt/fallback-sources"
    got=$(set_up "$2")
    got_status=$? updates=$(grep -c update "$work/apt/calls")
    if [ "$got_status" != "$3" ] || [[ "$got" != *"$4"* ]] || compgen -G "$work/korvanel-prerequisites.*" >/dev/null; then
        fail "set-up, $1: expected exit $3, '$4' and no work folder left, got $got_status: $got; $(ls "$work")"
    elif [ "$updates" != "$5" ]; then
        fail "set-up, $1: expected $5 updates, apt-get got: $(cat "$work/apt/calls")"
    else
        echo "ok: set-up, $1"
    fi
}
prerequisites_case "a failed index that comes back: tried again" once 0 "trying again in 0 s" 2
prerequisites_case "a failed index that stays: left out" mid-sync 0 \
    "warning: the index of bookworm-security (http://deb.example/security) did not load after 3 tries" 4
fallback=$(cat "$work/apt/fallback-sources" 2>/dev/null)
if [[ $fallback == *bookworm-security* ]] || [[ $fallback != *"deb http://deb.example/debian bookworm main"* ]] ||
    [[ $fallback != *"Suites: bookworm bookworm-updates"* ]]; then
    fail "set-up, a failed index that stays: the sources apt got without it: $fallback"
fi
prerequisites_case "nothing installs without it: stop, say what to run" broken 1 \
    "wait until the mirror is whole, then run 'apt-get update' and this script again" 4
# No i386 system call (a seccomp filter kills the process), as on a kernel without 32-bit support,
# and binfmt_misc not mounted (a tmpfs over it), in a user namespace whose binfmt_misc is its own.
no_ia32='import ctypes, os, struct, sys
code = ctypes.create_string_buffer(b"".join(struct.pack("HBBI", *i) for i in
    ((0x20, 0, 0, 4), (0x15, 0, 1, 0x40000003), (0x06, 0, 0, 0x80000000), (0x06, 0, 0, 0x7fff0000))))
prog = ctypes.create_string_buffer(struct.pack("HxxxxxxQ", 4, ctypes.addressof(code)))
ctypes.CDLL(None).prctl(38, 1, 0, 0, 0) == 0 == ctypes.CDLL(None).prctl(22, 2, prog) or sys.exit(9)
os.execvp(sys.argv[1], sys.argv[1:])'
got=$(set_up once unshare --user --map-root-user --mount python3 -c "$no_ia32" bash -c 'binfmt=/proc/sys/fs/binfmt_misc
    mount -t tmpfs tmpfs $binfmt && mount -t binfmt_misc binfmt_misc $binfmt && umount $binfmt || exit 8
    ! /lib/ld-linux.so.2 --help >/dev/null 2>&1 || exit 9
    "$@" && grep -qx enabled $binfmt/qemu-i386 && /lib/ld-linux.so.2 --help >/dev/null && echo "i386 programs run"' -)
case $? in
8) echo "skipped: set-up without 32-bit support: this kernel has no binfmt_misc of a user namespace's own (Linux 6.7)" ;;
0) [[ $got == *"now run through qemu-user"*"i386 programs run" ]] && echo "ok: set-up without 32-bit support: qemu-user registered, for those who run it" ||
       fail "set-up without 32-bit support: $got" ;;
*) fail "set-up without 32-bit support: no qemu-user registration once it ended: $got" ;;
esac

# What runs with the line TAG in its environment, zombies aside.
running_with() {
    local file pid
    for file in $(grep -lzxF "$1" /proc/[0-9]*/environ 2>/dev/null); do
        pid=${file#/proc/} pid=${pid%/environ}
        [ "$(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null | cut -d' ' -f1)" = Z ] || echo "$pid"
    done
}
nothing_runs_with() { [ -z "$(running_with "$1")" ]; }
# The state letters of what runs with TAG and a command line that matches PATTERN.
states_with() {
    running_with "$1" | while read -r pid; do
        [[ "$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline")" =~ $2 ]] && sed 's/.*) //; s/ .*//' "/proc/$pid/stat"
    done
}
# Waits up to SECONDS for COMMAND to succeed.
within() { local seconds=$1 _; shift; for _ in $(seq $((seconds * 10))); do "$@" && return 0; sleep 0.1; done; return 1; }

# Making a prefix: a stand-in wine that writes what Wine would (its links to the home folder among
# them, and no link where a folder is), or stalls first; it counts its runs.
printf '#!/bin/sh\n[ -z "$STALL" ] || exec sleep 60\necho run >>%q\nu=$WINEPREFIX/drive_c/users/me\nmkdir -p "$WINEPREFIX/drive_c/windows/syswow64" "$u"\n%s\n%s\n' \
    "$work/wine-runs" 'touch "$WINEPREFIX/system.reg" "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll"; [ -e "$u/Documents" ] || ln -s "$HOME" "$u/Documents"' \
    'printf "%s\r\n" "$(stat -c %Y /usr/share/wine/wine.inf)" >"$WINEPREFIX/.update-timestamp"' >"$work/bin/wine"
printf '#!/bin/sh\n' >"$work/bin/wineserver"
chmod +x "$work/bin/"*
echo "keep me" >"$work/folder/file.txt"
got=$(PATH="$work/bin:$PATH" "$session" --prefix "$work/folder" 2>&1)
[ $? = 2 ] && [[ $got == *"is neither a complete 32-bit Wine prefix nor empty"* ]] && [ "$(ls -A "$work/folder")" = file.txt ] &&
    echo "ok: a folder with files that is no prefix: refused, left as it is" ||
    fail "a folder with files that is no prefix: expected exit 2, a refusal and file.txt alone, got: $got; $(ls -A "$work/folder")"
got=$("$session" 2>&1)
[ $? = 2 ] && [[ $got == *usage:* ]] && echo "ok: without --prefix: usage" || fail "without --prefix: expected exit 2 and the usage, got: $got"
made() { TMPDIR=$work/tmp PATH="$work/bin:$PATH" exec "$session" --prefix "$work/new/prefix"; }
in_new() { (cd "$work/new" && find . "$@" | sort | tr '\n' ' '); }
STALL=1 KORVANEL_TEST_RUN=creation made 2>/dev/null &
run=$!
if ! within 30 eval '[ -n "$(states_with KORVANEL_TEST_RUN=creation "^sleep 60")" ]'; then
    fail "SIGKILL while a prefix is made: the stand-in wine did not start"
elif ! { kill -KILL "$run" && within 2 nothing_runs_with KORVANEL_TEST_RUN=creation; }; then
    fail "SIGKILL while a prefix is made: still running 2 s later: $(running_with KORVANEL_TEST_RUN=creation | tr '\n' ' ')"
elif [ "$(in_new -mindepth 1)" != "./.prefix.korvanel-unfinished ./prefix " ] || ! touch -d '2 minutes ago' "$work"/tmp/korvanel-run.*; then
    fail "SIGKILL while a prefix is made: expected an empty prefix, the unfinished folder and a TMPDIR folder, found $(in_new) $(ls "$work/tmp")"
elif ! (made 2>/dev/null) || [ "$(in_new -type f)" != "./prefix/.update-timestamp ./prefix/drive_c/windows/syswow64/kernel32.dll ./prefix/system.reg " ] ||
    [ -n "$(in_new -type l)" ] || [ ! -d "$work/new/prefix/drive_c/users/me/Documents" ] || [ -n "$(ls -A "$work/tmp")" ]; then
    fail "SIGKILL while a prefix is made: the next creation left $(in_new) $(ls -l "$work/new/prefix/drive_c/users/me") $(ls -A "$work/tmp")"
else
    echo "ok: SIGKILL while a prefix is made: nothing runs; the next creation makes it, with folders for Wine's links to home"
fi
wait "$run" 2>/dev/null
# Its folder is held as a run holds its build tree, which may hold the prefix.
echo 1 >"$work/new/prefix/.update-timestamp" && touch "$work/new/prefix/keep" && rm -f "$work/wine-runs" && lock_tree held "$work/new"
(made 2>/dev/null) & (KORVANEL_LOCK_WAIT=20 made 2>/dev/null) && wait $! && [ "$(cat "$work/wine-runs")" = run ] && [ -e "$work/new/prefix/keep" ] &&
    [ "$(tr -d '\r' <"$work/new/prefix/.update-timestamp")" = "$(stat -c %Y /usr/share/wine/wine.inf)" ] &&
    echo "ok: a prefix older than the installed Wine, in a folder its run holds: brought up to date once, nothing deleted" ||
    fail "a prefix older than the installed Wine: wine ran $(cat "$work/wine-runs" | wc -l) times; left $(in_new)"
exec {held}<&-

# Sessions on READY, which none of them may change: what READY and TMPDIR hold, by path, size,
# time and mode.
"$session" --prefix "$ready" || exit 1
links=$(find "$ready" -type l ! -path "$ready/dosdevices/*")
[ -z "$links" ] && echo "ok: nothing links out of the prefix but its drives" || fail "the prefix links out: $links"
holdings() { find "$ready" -printf '%p %s %T@ %m\n' | sort | md5sum; ls -A "$TMPDIR"; }
before=$(holdings)
windows=$ready/drive_c/windows
got=0
"$session" --prefix "$ready" "$windows/system32/cmd.exe" /c "exit 7" || got=$?
[ "$got" = 7 ] && echo "ok: a program's exit code" || fail "a program's exit code: expected 7, got $got"
# Only root's overlay renames a folder of the prefix (docs/testing.md).
renames=$(awk '{ print $2 == 0 }' /proc/self/uid_map) note="$HOME/korvanel-session-test.txt"
for run in A B; do
    "$session" --prefix "$ready" "$windows/system32/cmd.exe" /c "reg add HKCU\\Software\\KorvanelTest /v Run /d $run /f >nul & echo $run>%USERPROFILE%\\Documents\\korvanel-session-test.txt & rmdir C:\\windows\\help & if not exist C:\\windows\\help (mkdir C:\\windows\\help & if exist C:\\windows\\help echo help remade) & $([ "$renames" = 0 ] || echo "move C:\\windows\\inf C:\\windows\\inf-$run >nul & if exist C:\\windows\\inf-$run\\input.inf echo inf moved &") ping -n 3 127.0.0.1 >nul & reg query HKCU\\Software\\KorvanelTest & type %USERPROFILE%\\Documents\\korvanel-session-test.txt" 2>&1 | tr -d '\r' >"$work/run-$run" &
done
wait
seen=ok
for run in A B; do
    grep -q "Run *REG_SZ *$run" "$work/run-$run" && [ "$(grep -c REG_SZ "$work/run-$run")" = 1 ] && grep -qx "$run *" "$work/run-$run" &&
        grep -q "help remade" "$work/run-$run" && { [ "$renames" = 0 ] || grep -q "inf moved" "$work/run-$run"; } || seen="session $run saw: $(cat "$work/run-$run")"
done
[ ! -e "$note" ] || { seen="a session wrote $note"; rm -f "$note"; }
[ "$seen" = ok ] && echo "ok: two sessions at once: each sees its own registry, Documents and changed folders only" || fail "two sessions at once: $seen"
for windows_folder in system32 syswow64; do
    got=0
    # 120 s is beyond any end, even on a busy machine under qemu-user; a crash dialog waits for ever.
    timeout -s KILL 120 "$session" --prefix "$ready" "$windows/$windows_folder/rundll32.exe" ntdll.dll,DbgBreakPoint 2>/dev/null || got=$?
    # 3: the low byte of the breakpoint's exception code, 0x80000003
    [ "$got" = 3 ] && echo "ok: a program of $windows_folder that crashes: its session ends with 3" ||
        fail "a program of $windows_folder that crashes: its session ended with $got"
done

# signal_case NAME COMMAND...: Ctrl-Z and fg, then TERM, to one run of COMMAND (a group of its own,
# as a shell makes a job), Ctrl-C (INT to the group) to another, and SIGKILL to a third.
sleeper=(--prefix "$ready" "$windows/system32/cmd.exe" /c "ping -n 60 127.0.0.1 >nul & exit 5")
signal_case() {
    local name=$1 tag=KORVANEL_TEST_RUN=$1 run signal seconds expected got
    shift
    for signal in TERM:5:143 INT:5:130 KILL:2:137; do
        IFS=: read -r signal seconds expected <<<"$signal"
        TMPDIR=$work/tmp env --default-signal=INT,QUIT "$tag" setsid "$@" 2>/dev/null &
        run=$!
        if ! within 120 eval '[ -n "$(states_with "$tag" ^ping)" ]'; then
            fail "$name: the program did not start"
        elif [ $signal = TERM ] && ! { kill -TSTP -- "-$run" && within 3 eval '[ "$(states_with "$tag" ^ping)" = T ]'; }; then
            fail "$name: Ctrl-Z left the program $(states_with "$tag" ^ping)"
        elif [ $signal = TERM ] && ! { kill -CONT -- "-$run" && within 3 eval '[[ "$(states_with "$tag" .)" != *T* ]]'; }; then
            fail "$name: fg left stopped: $(states_with "$tag" . | tr '\n' ' ')"
        elif ! { kill "-$signal" -- "$([ $signal = INT ] && echo -)$run" && within "$seconds" nothing_runs_with "$tag"; }; then
            fail "$name: $signal left running: $(running_with "$tag" | tr '\n' ' ')"
        else
            wait "$run"
            got=$?
            [ $got = "$expected" ] && echo "ok: $name: ${signal/TERM/Ctrl-Z stops it, fg lets it go on, TERM} ends everything, with $got" ||
                fail "$name: $signal: expected exit $expected, got $got"
        fi
        { kill -KILL "$run" && wait "$run"; } 2>/dev/null   # after a failed row: the rest ends with the test
    done
}
signal_case "a session" "$session" "${sleeper[@]}"
printf '. %q\nisolated || { isolate "$0" "$@"; exit; }\n%q "$@"\n' "$scripts/lock.sh" "$session" >"$work/runs-a-session.sh"
signal_case "a script that runs a session" bash "$work/runs-a-session.sh" "${sleeper[@]}"
# A TERM while the session's namespace has no traps yet: a stand-in id holds its first process there.
printf '#!/bin/sh\n[ "$PPID" != 1 ] || { touch %q; sleep 5; }\nexec /usr/bin/id "$@"\n' "$work/held" >"$work/slow/id" && chmod +x "$work/slow/id"
TMPDIR=$work/tmp PATH="$work/slow:$PATH" env KORVANEL_TEST_RUN=early setsid "$session" "${sleeper[@]}" 2>/dev/null &
run=$!
within 60 test -e "$work/held" && kill -TERM "$run" && within 5 nothing_runs_with KORVANEL_TEST_RUN=early && { wait "$run"; [ $? = 143 ]; } &&
    echo "ok: a TERM before the session's namespace is ready ends everything, with 143" ||
    fail "a TERM before the session's namespace is ready: still running: $(running_with KORVANEL_TEST_RUN=early | tr '\n' ' ')"
{ kill -KILL "$run" && wait "$run"; } 2>/dev/null

[ "$(holdings)" = "$before" ] && echo "ok: no session wrote under READY or TMPDIR" ||
    fail "a session wrote under READY or TMPDIR: $(ls -A "$TMPDIR")"
exit $status
