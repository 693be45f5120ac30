#!/usr/bin/env bash
# The release zip holds the two executables under their names, the README and the licence.
# It is built in a folder of its own: the developer's build tree is left alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
zip_file=$("$root/scripts/package.sh" "$work/out" "$work/build")
(cd "$work" && unzip -q "$zip_file")
folder=$(echo "$work"/korvanel-*)
status=0
expect() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; status=1; fi; }
expect "korvanel.exe is the 32-bit build" '[[ "$(file -b "$folder/korvanel.exe")" == "PE32 executable (GUI) Intel 80386"* ]]'
expect "korvanel-x64.exe is the 64-bit build" '[[ "$(file -b "$folder/korvanel-x64.exe")" == "PE32+ executable (GUI) x86-64"* ]]'
expect "README.md is there" 'cmp -s "$folder/README.md" "$root/README.md"'
expect "LICENSE is there" 'cmp -s "$folder/LICENSE" "$root/LICENSE"'
expect "nothing else is there" '[ "$(ls "$folder" | sort | tr "\n" " ")" = "LICENSE README.md korvanel-x64.exe korvanel.exe " ]'
exit $status
