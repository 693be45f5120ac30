#!/usr/bin/env bash
# The Wine runner leaves alone what it did not create: without --prefix it only
# prints its usage, and a folder that holds files but is no Wine prefix is
# refused by name. Stand-ins for wine and wineserver come first on PATH, so no
# real Wine can start, and a run that went on to make a prefix would show.
set -uo pipefail
runner=$(cd "$(dirname "$0")/wine" && pwd)/run-in-wine.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/folder"
for stub in wine wineserver; do
    printf '#!/bin/sh\necho "%s $*" >>"%s/wine-calls"\n' "$stub" "$work" >"$work/bin/$stub"
    chmod +x "$work/bin/$stub"
done
echo "keep me" >"$work/folder/file.txt"
status=0

# runner_case NAME EXPECTED_STATUS EXPECTED_MESSAGE RUNNER_ARGS...   (run inside the folder)
runner_case() {
    local name=$1 expected_status=$2 expected_message=$3 got
    shift 3
    got=$(cd "$work/folder" && PATH="$work/bin:$PATH" "$runner" "$@" 2>&1)
    local got_status=$?
    local contents
    contents=$(ls -A "$work/folder")
    if [ "$got_status" != "$expected_status" ]; then
        echo "FAILED: $name: expected exit $expected_status, got $got_status: $got"; status=1
    elif [[ "$got" != *"$expected_message"* ]]; then
        echo "FAILED: $name: expected a message with '$expected_message', got: $got"; status=1
    elif [ "$contents" != file.txt ] || [ "$(cat "$work/folder/file.txt")" != "keep me" ]; then
        echo "FAILED: $name: the folder changed, it now holds: $contents"; status=1
    elif [ -e "$work/wine-calls" ]; then
        echo "FAILED: $name: Wine was started: $(cat "$work/wine-calls")"; status=1
    else
        echo "ok: $name"
    fi
}

runner_case "without --prefix: usage" 2 "usage: " any.exe
runner_case "--prefix with no folder: usage" 2 "usage: " --prefix
runner_case "a folder with files that is no prefix: refused" 2 "'$work/folder' is neither" --prefix "$work/folder" any.exe
exit $status
