#!/usr/bin/env bash
# The Wine session script leaves alone what it did not create, and what it starts
# ends with it.
# - Folders: without --prefix it only prints its usage; a folder that holds files
#   but is no Wine prefix is refused by name, also when it is reached through a
#   link, and so is a path with a control character; a creation it left unfinished
#   is made again in its own folder, touching nothing else; a wineserver it did not
#   start, under another TMPDIR, is refused and left running. A stand-in for wine
#   comes first on PATH, so that no prefix is really made, and a run that went on to
#   make one would show.
# - Sessions, on the ready prefix READY with Wine's own cmd.exe as the program: its
#   exit code comes back under another TMPDIR; TERM ends a wait for a busy prefix;
#   SIGKILL while a wait or a namespace starts leaves nothing running; SIGKILL, or
#   TERM twice, leaves nothing of the session running, in a PID namespace at once,
#   without one once the next session has begun. A script that isolate runs stops and
#   goes on with its caller, and TERM ends what it started, with a namespace or without.
# Usage: wine_runner_test.sh READY     (made if it is not a prefix yet)
set -uo pipefail
session=$(cd "$(dirname "$0")/../scripts" && pwd)/wine-session.sh
ready=$1
work=$(mktemp -d)
# Every wineserver of this test keeps its folder here, and goes with it.
export TMPDIR=$work/tmp
trap 'rm -rf "$work"' EXIT
mkdir "$work/tmp" "$work/bin" "$work/folder" "$work/unfinished" "$work/old" "$work/busy"
printf '#!/bin/sh\necho "wine $*" >>"%s/wine-calls"\n' "$work" >"$work/bin/wine"
chmod +x "$work/bin/wine"
ln -s folder "$work/link"
status=0
fail() { echo "FAILED: $*"; status=1; }

# The set-up on a mirror mid-sync, with stand-ins for root, dpkg and apt first on
# PATH: a failed index is tried again, then left out for that install only (its
# suite in every architecture, the rest of the sources as they were), or the script
# stops with exit 1 and says what to run.
prerequisites=$(dirname "$session")/prerequisites.sh
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
    got=$(APT_MODE=$2 APT_WORK=$work/apt KORVANEL_APT_PAUSE=0 PATH="$work/apt/bin:$PATH" "$prerequisites" 2>&1)
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

# An interrupted creation of the script's own, for this folder and user, that got
# as far as Wine's two files, beside a drive_c of the user's; and a marker that names
# no folder.
PATH="$work/bin:$PATH" "$session" --prefix "$work/unfinished" >/dev/null 2>&1
marker=$(cd "$work/unfinished" && find . -maxdepth 1 -name '.korvanel*' -printf '%f\n')
[ -f "$work/unfinished/$marker/made-for" ] || fail "an unfinished creation left no marker: $(ls -AR "$work/unfinished")"
mkdir "$work/unfinished/drive_c" && echo "keep me" >"$work/unfinished/drive_c/file.txt"
for folder in folder unfinished old; do echo "keep me" >"$work/$folder/file.txt"; done
remade=$(cd "$work/unfinished" && find . -mindepth 1 | sort | tr '\n' ' ')
mkdir -p "$work/unfinished/$marker/drive_c/windows/syswow64"
touch "$work/unfinished/$marker/drive_c/windows/syswow64/kernel32.dll" "$work/unfinished/$marker/system.reg"
mkdir "$work/old/$marker" && : >"$work/old/$marker/made-for"

# runner_case NAME FOLDER EXPECTED_STATUS EXPECTED_MESSAGE EXPECTED_CONTENTS WINE_STARTS ARGS...
# (run inside FOLDER; WINE_STARTS is yes when the stand-in for wineboot must run)
runner_case() {
    local name=$1 folder=$2 expected_status=$3 expected_message=$4 expected_contents=$5 wine_starts=$6 got got_status contents
    shift 6
    rm -f "$work/wine-calls"
    got=$(cd "$work/$folder" && PATH="$work/bin:$PATH" "$session" "$@" 2>&1)
    got_status=$?
    contents=$(cd "$work/$folder" && find . -mindepth 1 | sort | tr '\n' ' ')
    if [ "$got_status" != "$expected_status" ]; then
        fail "$name: expected exit $expected_status, got $got_status: $got"
    elif [[ "$got" != *"$expected_message"* ]]; then
        fail "$name: expected a message with '$expected_message', got: $got"
    elif grep -E ': line [0-9]+: ' <<<"$got"; then
        fail "$name: the scripts failed on a line of their own (above)"
    elif [ "$contents" != "$expected_contents" ] || [ "$(cat "$work/$folder/file.txt")" != "keep me" ]; then
        fail "$name: expected the folder to hold '$expected_contents', it holds '$contents'"
    elif [ "$wine_starts" = no ] && [ -e "$work/wine-calls" ]; then
        fail "$name: Wine was started: $(cat "$work/wine-calls")"
    elif [ "$wine_starts" = yes ] && ! grep -q "wine wineboot" "$work/wine-calls" 2>/dev/null; then
        fail "$name: expected the prefix to be made again, but wineboot was not started"
    else
        echo "ok: $name"
    fi
}

runner_case "without --prefix: usage" folder 2 "usage: " "./file.txt " no any.exe
runner_case "--prefix with no folder: usage" folder 2 "usage: " "./file.txt " no --prefix
runner_case "the root, '/': refused by what was given" folder 2 "'/' is the root folder" "./file.txt " no \
    --prefix / any.exe
runner_case "the root, '//': refused by what was given" folder 2 "'//' is the root folder" "./file.txt " no \
    --prefix // any.exe
runner_case "a folder with files that is no prefix: refused" folder 2 "'$work/folder' is neither" "./file.txt " no \
    --prefix "$work/folder" any.exe
runner_case "a link to that folder: refused, by the folder's own name" folder 2 "'$work/folder' is neither" \
    "./file.txt " no --prefix "$work/link" any.exe
runner_case "the same folder by its real path, after the link: refused" folder 2 "'$work/folder' is neither" \
    "./file.txt " no --prefix "$work/folder" any.exe
runner_case "a path with a newline, after a folder's name: refused" folder 2 "holds a control character" \
    "./file.txt " no --prefix "$work/folder"$'\n'"$work/busy" any.exe
TMPDIR=$work/no-such runner_case "a TMPDIR that is no folder: refused" folder 2 "TMPDIR '$work/no-such' is no folder" \
    "./file.txt " no --prefix "$work/folder" any.exe
mkdir "$work/nl"$'\n' && echo "keep me" >"$work/nl"$'\n'/file.txt && ln -s "$work/nl"$'\n' "$work/nl-link"
runner_case "a link to a path that ends in a newline: refused" $'nl\n' 2 "which holds a control character" "./file.txt " no \
    --prefix "$work/nl-link" any.exe
if [ "$(id -u)" = 0 ]; then
    # A ready prefix of another user's, as 'sudo scripts/test.sh' leaves one in a user's clone.
    mkdir -p "$work/others/drive_c/windows/syswow64" && echo "keep me" >"$work/others/file.txt"
    touch "$work/others/system.reg" "$work/others/drive_c/windows/syswow64/kernel32.dll"
    chown -R nobody "$work/others"
    runner_case "a ready prefix of another user's: refused, by its owner" others 2 "belongs to nobody" \
        "$(cd "$work/others" && find . -mindepth 1 | sort | tr '\n' ' ')" no --prefix "$work/others" any.exe
else
    echo "skipped: a ready prefix of another user's: only root can make one here"
fi
runner_case "a marker that names no folder: refused" old 2 "marker of an unfinished prefix made for another" \
    "./$marker ./$marker/made-for ./file.txt " no --prefix "$work/old" any.exe

runner_case "an unfinished creation: made again in its own folder, nothing else touched" unfinished 2 \
    "has no 32-bit half" "$remade" yes --prefix "$work/unfinished" any.exe

# A wineserver started by hand on the unfinished prefix, under a TMPDIR of its own:
# refused before anything in the folder changes, and left running.
mkdir "$work/hand"
TMPDIR=$work/hand WINEPREFIX=$work/unfinished WINEDEBUG=-all setpriv --pdeathsig KILL wineserver -f -p 2>/dev/null &
hand=$!
sleep 1   # what the server writes at its start, it has written
before=$(cd "$work/unfinished" && find . -type f -exec md5sum {} + | sort)
runner_case "a wineserver started by hand, under another TMPDIR: refused" unfinished 2 \
    "another wineserver already serves" "$(cd "$work/unfinished" && find . -mindepth 1 | sort | tr '\n' ' ')" no \
    --prefix "$work/unfinished" any.exe
kill -0 "$hand" 2>/dev/null || fail "the wineserver started by hand was stopped"
[ "$(cd "$work/unfinished" && find . -type f -exec md5sum {} + | sort)" = "$before" ] ||
    fail "the wineserver started by hand: the folder's files changed"
kill "$hand"
wait "$hand"

# What runs with the line TAG in its environment, zombies aside.
running_with() {
    local file pid
    for file in $(grep -lzxF "$1" /proc/[0-9]*/environ 2>/dev/null); do
        pid=${file#/proc/} pid=${pid%/environ}
        [ "$(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null | cut -d' ' -f1)" = Z ] || echo "$pid"
    done
}
# Waits up to SECONDS for COMMAND to succeed.
within() {
    local seconds=$1 _
    shift
    for _ in $(seq $((seconds * 10))); do "$@" && return 0; sleep 0.1; done
    return 1
}
nothing_runs_with() { [ -z "$(running_with "$1")" ]; }
# After a failed row: what still runs with TAG goes, so that it holds nothing of the test's.
end_running_with() {
    local pids
    pids=$(running_with "$1")
    # shellcheck disable=SC2086   # process ids
    [ -z "$pids" ] || kill -KILL $pids 2>/dev/null
}
# The state letters of what runs with TAG and a command line that matches PATTERN.
states_with() {
    running_with "$1" | while read -r pid; do
        [[ "$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline")" =~ $2 ]] && sed 's/.*) //; s/ .*//' "/proc/$pid/stat"
    done
}
program_runs_with() { [ -n "$(states_with "$1" "${2:-^ping}")" ]; }

cmd=$ready/drive_c/windows/system32/cmd.exe
sleeper=(--prefix "$ready" "$cmd" /c "ping -n 60 127.0.0.1 >nul & exit 5")
# A run of its own: the prefix is ready afterwards, and cmd.exe's code comes back.
got=0
"$session" --prefix "$ready" "$cmd" /c "exit 7" || got=$?
[ "$got" = 7 ] && echo "ok: a program's exit code, with TMPDIR elsewhere" || fail "a program's exit code: expected 7, got $got"
# A ready prefix without the crash dialog turned off, as older scripts made them, gets it.
sed -i '/^"ShowCrashDialog"=dword:00000000/d' "$ready/user.reg"
"$session" --prefix "$ready" "$cmd" /c "exit 0" 2>/dev/null
grep -q '^"ShowCrashDialog"=dword:00000000' "$ready/user.reg" && echo "ok: a prefix without the crash dialog off gets it" ||
    fail "a ready prefix without the crash dialog off: still without it after a session"

# TERM to a session that waits for a busy prefix (this shell holds it) ends it at once.
exec {hold}<"$work/busy"
flock "$hold"
KORVANEL_TEST_RUN=waiter "$session" --prefix "$work/busy" any.exe 2>/dev/null &
run=$!
sleep 1
kill -TERM "$run"
if within 5 nothing_runs_with KORVANEL_TEST_RUN=waiter; then
    wait "$run"
    got=$?
    [ "$got" = 143 ] && echo "ok: TERM ends a wait for a busy prefix" || fail "TERM during the wait: expected exit 143, got $got"
else
    fail "TERM during the wait for a busy prefix: still running 5 s later"
fi

# SIGKILL while a session starts what the kernel ends with it, the wait for the busy
# prefix and then the namespace: a stand-in setpriv first on PATH holds the start for
# a second, and nothing may run after it.
mkdir "$work/slow" && printf '#!/bin/sh\nsleep 1\nexec %s "$@"\n' "$(command -v setpriv)" >"$work/slow/setpriv"
chmod +x "$work/slow/setpriv"
for folder in "$work/busy" "$ready"; do
    name="SIGKILL while $([ "$folder" = "$ready" ] && echo "the namespace" || echo "the wait") starts"
    tag=KORVANEL_TEST_RUN=$name
    env "$tag" PATH="$work/slow:$PATH" "$session" --prefix "$folder" "${sleeper[@]:2}" 2>/dev/null &
    run=$!
    if ! within 20 program_runs_with "$tag" '^sleep 1 $'; then
        fail "$name: the stand-in setpriv did not start"
    else
        kill -KILL "$run"
        sleep 2.5
        nothing_runs_with "$tag" && echo "ok: $name: nothing runs after it" ||
            fail "$name: still running: $(running_with "$tag" | tr '\n' ' ')"
    fi
    end_running_with "$tag"
    wait "$run" 2>/dev/null
done
exec {hold}<&-
[ -z "$(ls -A "$work/busy")" ] || fail "the wait for a busy prefix wrote into it: $(ls -A "$work/busy")"

# A script that isolate runs, which runs another such script with a child that ignores
# TERM (as a test run runs a session, which takes a while to stop), in a group of its
# own as a shell gives a job: Ctrl-Z (TSTP to the group) stops the child too, fg (CONT)
# lets it go on, and TERM ends it, with a namespace and without.
printf '. %q\nisolated || isolate "$0" "$@"\nif [ "${1:-}" = outer ]; then bash "$0" inner; else trap "sleep 0.5; exit 143" TERM; (trap "" TERM; exec sleep 60) & wait; fi\n' \
    "$(dirname "$session")/lock.sh" >"$work/isolated.sh"
for namespace in "" none; do
    name="an isolated script${namespace:+ without a namespace}" tag=KORVANEL_TEST_RUN=isolated$namespace
    KORVANEL_NAMESPACE=$namespace env "$tag" setsid bash "$work/isolated.sh" outer &
    run=$!
    if ! within 10 program_runs_with "$tag" '^sleep 60'; then
        fail "$name: its child did not start"
    elif ! { kill -TSTP -- "-$run" && within 3 eval '[ "$(states_with "$tag" "^sleep 60")" = T ]'; }; then
        fail "$name: Ctrl-Z left its child $(states_with "$tag" "^sleep 60")"
    elif ! { kill -CONT -- "-$run" && within 3 eval '[ "$(states_with "$tag" "^sleep 60")" = S ]'; }; then
        fail "$name: fg left its child $(states_with "$tag" "^sleep 60")"
    elif ! { kill -TERM "$run" && within 5 nothing_runs_with "$tag"; }; then
        fail "$name: TERM left running: $(running_with "$tag" | tr '\n' ' ')"
    else
        echo "ok: $name: Ctrl-Z stops its child, fg lets it go on, TERM ends it"
    fi
    end_running_with "$tag"
    wait "$run" 2>/dev/null
done

# kill_case NAME NAMESPACE SIGNALS...: the sleeper gets SIGNALS, 0.1 s apart, once it
# runs; then nothing of it may run (at once in a namespace, else once the next
# session has begun), and the next session gives its program's exit code.
kill_case() {
    local name=$1 namespace=$2 tag=KORVANEL_TEST_RUN=$1 run signal got=0
    shift 2
    KORVANEL_NAMESPACE=$namespace KORVANEL_TEST_RUN=$name "$session" "${sleeper[@]}" 2>"$work/session.err" &
    run=$!
    if ! within 60 program_runs_with "$tag"; then
        kill -KILL "$run" 2>/dev/null
        wait "$run"
        fail "$name: the program did not start; the session ended with $? and said: $(cat "$work/session.err")"
        return
    fi
    for signal in "$@"; do kill "-$signal" "$run"; sleep 0.1; done
    if [ "$namespace" = none ] && [ "$1" = KILL ]; then
        nothing_runs_with "$tag" && fail "$name: expected leftovers without a namespace, found none"
    elif ! within 5 nothing_runs_with "$tag"; then
        fail "$name: still running 5 s later: $(running_with "$tag" | tr '\n' ' ')"; return
    fi
    KORVANEL_NAMESPACE=$namespace "$session" --prefix "$ready" "$cmd" /c "exit 9" 2>/dev/null || got=$?
    if [ "$got" != 9 ]; then
        fail "$name: the next session: expected exit 9, got $got"
    elif ! nothing_runs_with "$tag"; then
        fail "$name: the next session left the killed one's processes running"
    else
        echo "ok: $name: nothing left, and the next session works"
    fi
    wait "$run" 2>/dev/null
}
KORVANEL_NAMESPACE="" "$session" --prefix "$ready" true 2>"$work/probe"
if grep -q "no PID namespace" "$work/probe"; then
    echo "skipped: SIGKILL and TERM in a PID namespace: $(cat "$work/probe")"
else
    kill_case "SIGKILL in a namespace" "" KILL
    kill_case "TERM twice in a namespace" "" TERM TERM
fi
kill_case "SIGKILL without a namespace" none KILL
kill_case "TERM twice without a namespace" none TERM TERM
exit $status
