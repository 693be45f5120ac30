#!/usr/bin/env bash
# The Wine runner leaves alone what it did not create: without --prefix it only
# prints its usage, a folder that holds files but is no Wine prefix is refused
# by name, also when it is reached through a link, and a creation it left
# unfinished is made again, removing only what Wine made. Stand-ins for wine
# and wineserver come first on PATH, so no real Wine can start, and a run that
# went on to make a prefix would show.
set -uo pipefail
runner=$(cd "$(dirname "$0")/wine" && pwd)/run-in-wine.sh
# The marker's name and text, as the session script writes them.
# shellcheck source=scripts/wine-session.sh
. "$(dirname "$0")/../scripts/wine-session.sh"
marker=$wine_prefix_marker
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/folder" "$work/unfinished" "$work/old"
for stub in wine wineserver; do
    printf '#!/bin/sh\necho "%s $*" >>"%s/wine-calls"\n' "$stub" "$work" >"$work/bin/$stub"
    chmod +x "$work/bin/$stub"
done
ln -s folder "$work/link"
for folder in folder unfinished old; do echo "keep me" >"$work/$folder/file.txt"; done
# An interrupted creation of this script's, for this folder and user, that got as
# far as Wine's two files.
wine_prefix_marker_text "$work/unfinished" >"$work/unfinished/$marker"
mkdir -p "$work/unfinished/drive_c/windows/syswow64"
touch "$work/unfinished/system.reg" "$work/unfinished/drive_c/windows/syswow64/kernel32.dll"
# A marker that says nothing of the folder it was made for (an older script's).
: >"$work/old/$marker"
status=0

# runner_case NAME FOLDER EXPECTED_STATUS EXPECTED_MESSAGE EXPECTED_CONTENTS WINE_STARTS RUNNER_ARGS...
# (run inside FOLDER; WINE_STARTS is yes when the stand-in for wineboot must run)
runner_case() {
    local name=$1 folder=$2 expected_status=$3 expected_message=$4 expected_contents=$5 wine_starts=$6 got
    shift 6
    rm -f "$work/wine-calls"
    got=$(cd "$work/$folder" && PATH="$work/bin:$PATH" "$runner" "$@" 2>&1)
    local got_status=$?
    local contents
    contents=$(cd "$work/$folder" && find . -mindepth 1 | sort | tr '\n' ' ')
    if [ "$got_status" != "$expected_status" ]; then
        echo "FAILED: $name: expected exit $expected_status, got $got_status: $got"; status=1
    elif [[ "$got" != *"$expected_message"* ]]; then
        echo "FAILED: $name: expected a message with '$expected_message', got: $got"; status=1
    elif grep -E ': line [0-9]+: ' <<<"$got"; then
        echo "FAILED: $name: the scripts failed on a line of their own (above)"; status=1
    elif [ "$contents" != "$expected_contents" ] || [ "$(cat "$work/$folder/file.txt")" != "keep me" ]; then
        echo "FAILED: $name: expected the folder to hold '$expected_contents', it holds '$contents'"; status=1
    elif [ $wine_starts = no ] && [ -e "$work/wine-calls" ]; then
        echo "FAILED: $name: Wine was started: $(cat "$work/wine-calls")"; status=1
    elif [ $wine_starts = yes ] && ! grep -q "wine wineboot" "$work/wine-calls" 2>/dev/null; then
        echo "FAILED: $name: expected the prefix to be made again, but wineboot was not started"; status=1
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
runner_case "a marker that names no folder: refused" old 2 "marker of an unfinished prefix made for another" \
    "./$marker ./file.txt " no --prefix "$work/old" any.exe
runner_case "an unfinished creation with Wine's two files: not ready, only Wine's files removed" unfinished 2 \
    "has no 32-bit half" "./$marker ./file.txt " yes --prefix "$work/unfinished" any.exe
exit $status
