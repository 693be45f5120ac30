#!/usr/bin/env bash
# Wine sessions share nothing writable, and what they start ends with them.
# - The set-up on a mirror mid-sync, with stand-ins for root, dpkg and apt first on PATH:
#   a failed index is tried again, then left out for that install only (its suite in every
#   architecture, the rest of the sources as they were), or the script stops with exit 1
#   and says what to run.
# - Making a prefix, with a stand-in wine first on PATH: a folder with files that is no
#   prefix is refused and left as it is; SIGKILL while Wine makes one leaves nothing
#   running and only a folder beside it, which the next creation replaces by the prefix.
# - Sessions on the ready prefix READY: the program's exit code comes back; two at once
#   each see their own registry writes only; a 32-bit and a 64-bit program that crash end
#   their session within seconds, not with 0; no session writes under READY or /tmp.
# - Signals to a session, and to a script that runs one: Ctrl-Z stops the program, fg lets
#   it go on, TERM ends everything within 5 s and SIGKILL within 2 s.
# The test runs in namespaces of its own, so that whatever a failed row leaves goes with it.
# Usage: wine_runner_test.sh READY     (made if it is not a prefix yet)
set -uo pipefail
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)
. "$scripts/lock.sh"
isolated || { isolate "$0" "$@"; exit; }
mount -t tmpfs tmpfs /tmp && export TMPDIR=/tmp
session=$scripts/wine-session.sh ready=$1 work=/tmp/work status=0
mkdir -p "$work/bin" "$work/folder" "$work/tmp"
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
# prerequisites_case NAME MODE EXPECTED_STATUS EXPECTED_MESSAGE UPDATES
prerequisites_case() {
    local got got_status updates
    rm -f "$work/apt/calls" "$work/apt/fallback-sources"
    got=$(APT_MODE=$2 APT_WORK=$work/apt KORVANEL_APT_PAUSE=0 TMPDIR=$work/tmp PATH="$work/apt/bin:$PATH" "$scripts/prerequisites.sh" 2>&1)
    got_status=$? updates=$(grep -c update "$work/apt/calls")
    if [ "$got_status" != "$3" ] || [[ "$got" != *"$4"* ]]; then
        fail "set-up, $1: expected exit $3 and '$4', got $got_status: $got"
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
within() {
    local seconds=$1 _
    shift
    for _ in $(seq $((seconds * 10))); do "$@" && return 0; sleep 0.1; done
    return 1
}

# Making a prefix: a stand-in wine that makes the two files Wine would, or stalls first.
printf '#!/bin/sh\n[ -z "$STALL" ] || exec sleep 60\nmkdir -p "$WINEPREFIX/drive_c/windows/syswow64"\ntouch "$WINEPREFIX/system.reg" "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll"\n' >"$work/bin/wine"
printf '#!/bin/sh\n' >"$work/bin/wineserver"
chmod +x "$work/bin/"*
echo "keep me" >"$work/folder/file.txt"
got=$(PATH="$work/bin:$PATH" "$session" --prefix "$work/folder" 2>&1)
[ $? = 2 ] && [[ $got == *"is neither a complete 32-bit Wine prefix nor empty"* ]] && [ "$(ls -A "$work/folder")" = file.txt ] &&
    echo "ok: a folder with files that is no prefix: refused, left as it is" ||
    fail "a folder with files that is no prefix: expected exit 2, a refusal and file.txt alone, got: $got; $(ls -A "$work/folder")"
got=$("$session" 2>&1)
[ $? = 2 ] && [[ $got == *usage:* ]] && echo "ok: without --prefix: usage" || fail "without --prefix: expected exit 2 and the usage, got: $got"
STALL=1 KORVANEL_TEST_RUN=creation PATH="$work/bin:$PATH" "$session" --prefix "$work/new/prefix" 2>/dev/null &
run=$!
if ! within 20 eval '[ -n "$(states_with KORVANEL_TEST_RUN=creation "^sleep 60")" ]'; then
    fail "SIGKILL while a prefix is made: the stand-in wine did not start"
elif ! { kill -KILL "$run" && within 2 nothing_runs_with KORVANEL_TEST_RUN=creation; }; then
    fail "SIGKILL while a prefix is made: still running 2 s later: $(running_with KORVANEL_TEST_RUN=creation | tr '\n' ' ')"
elif [ "$(cd "$work/new" && find . -mindepth 1 | sort | tr '\n' ' ')" != "./.prefix.korvanel-unfinished ./prefix " ]; then
    fail "SIGKILL while a prefix is made: expected an empty prefix and the unfinished folder, found $(cd "$work/new" && find . | tr '\n' ' ')"
elif ! PATH="$work/bin:$PATH" "$session" --prefix "$work/new/prefix" 2>/dev/null ||
    [ "$(cd "$work/new" && find . -type f | sort | tr '\n' ' ')" != "./prefix/drive_c/windows/syswow64/kernel32.dll ./prefix/system.reg " ]; then
    fail "SIGKILL while a prefix is made: the next creation left $(cd "$work/new" && find . | tr '\n' ' ')"
else
    echo "ok: SIGKILL while a prefix is made: nothing runs, and the next creation makes it"
fi
wait "$run" 2>/dev/null

# Sessions on READY, which none of them may change: what READY and /tmp hold, by path, size,
# time and mode.
"$session" --prefix "$ready" || exit 1
holdings() { find "$ready" -printf '%p %s %T@ %m\n' | sort | md5sum; ls -A /tmp; }
before=$(holdings)
windows=$ready/drive_c/windows
got=0
"$session" --prefix "$ready" "$windows/system32/cmd.exe" /c "exit 7" || got=$?
[ "$got" = 7 ] && echo "ok: a program's exit code" || fail "a program's exit code: expected 7, got $got"
for run in A B; do
    "$session" --prefix "$ready" "$windows/system32/cmd.exe" /c "reg add HKCU\\Software\\KorvanelTest /v Run /d $run /f >nul & ping -n 3 127.0.0.1 >nul & reg query HKCU\\Software\\KorvanelTest" >"$work/run-$run" 2>&1 &
done
wait
seen=ok
for run in A B; do
    grep -q "Run *REG_SZ *$run" "$work/run-$run" && [ "$(grep -c REG_SZ "$work/run-$run")" = 1 ] ||
        seen="session $run saw: $(cat "$work/run-$run")"
done
[ "$seen" = ok ] && echo "ok: two sessions at once: each sees its own registry writes only" || fail "two sessions at once: $seen"
for windows_folder in system32 syswow64; do
    start=$SECONDS got=0
    timeout -s KILL 60 "$session" --prefix "$ready" "$windows/$windows_folder/rundll32.exe" ntdll.dll,DbgBreakPoint 2>/dev/null || got=$?
    # 3: the low byte of the breakpoint's exception code, 0x80000003
    [ "$got" = 3 ] && [ $((SECONDS - start)) -lt 20 ] && echo "ok: a program of $windows_folder that crashes: its session ends with 3" ||
        fail "a program of $windows_folder that crashes: its session ended with $got after $((SECONDS - start)) s"
done

# signal_case NAME COMMAND...: Ctrl-Z and fg, then TERM, to one run of COMMAND (a group of its
# own, as a shell makes a job), and SIGKILL to another.
sleeper=(--prefix "$ready" "$windows/system32/cmd.exe" /c "ping -n 60 127.0.0.1 >nul & exit 5")
signal_case() {
    local name=$1 tag=KORVANEL_TEST_RUN=$1 run signal seconds got
    shift
    for signal in TERM:5 KILL:2; do
        seconds=${signal#*:} signal=${signal%:*}
        env "$tag" setsid "$@" 2>/dev/null &
        run=$!
        if ! within 60 eval '[ -n "$(states_with "$tag" ^ping)" ]'; then
            fail "$name: the program did not start"
        elif [ $signal = TERM ] && ! { kill -TSTP -- "-$run" && within 3 eval '[ "$(states_with "$tag" ^ping)" = T ]'; }; then
            fail "$name: Ctrl-Z left the program $(states_with "$tag" ^ping)"
        elif [ $signal = TERM ] && ! { kill -CONT -- "-$run" && within 3 eval '[[ "$(states_with "$tag" .)" != *T* ]]'; }; then
            fail "$name: fg left stopped: $(states_with "$tag" . | tr '\n' ' ')"
        elif ! { kill "-$signal" "$run" && within "$seconds" nothing_runs_with "$tag"; }; then
            fail "$name: $signal left running: $(running_with "$tag" | tr '\n' ' ')"
        else
            wait "$run"
            got=$?
            [ $signal = KILL ] || [ $got = 143 ] || fail "$name: TERM: expected exit 143, got $got"
            echo "ok: $name: ${signal/TERM/Ctrl-Z stops it, fg lets it go on, TERM} ends everything"
        fi
        { kill -KILL "$run" && wait "$run"; } 2>/dev/null   # after a failed row: the rest ends with the test
    done
}
signal_case "a session" "$session" "${sleeper[@]}"
printf '. %q\nisolated || { isolate "$0" "$@"; exit; }\n%q "$@"\n' "$scripts/lock.sh" "$session" >"$work/runs-a-session.sh"
signal_case "a script that runs a session" bash "$work/runs-a-session.sh" "${sleeper[@]}"

[ "$(holdings)" = "$before" ] && echo "ok: no session wrote under READY or /tmp" ||
    fail "a session wrote under READY or /tmp: $(ls -A /tmp)"
exit $status
