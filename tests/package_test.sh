#!/usr/bin/env bash
# The release zip holds the two executables under their names, the README and the
# licence, and SHA256SUMS beside it vouches for it. It is built in a folder of its
# own: the developer's build tree is left alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The output folder already holds the sum of another release, which must stay, and
# a stale sum of this one with a Windows line ending, which must go.
version=$(sed -n 's/^project(Korvanel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
other_line="$(printf '%064d' 0)  korvanel-0.9.0-windows.zip"
mkdir "$work/out"
printf '%s\n%064d  korvanel-%s-windows.zip\r\n' "$other_line" 1 "$version" >"$work/out/SHA256SUMS"
zip_file=$("$root/scripts/package.sh" "$work/out" "$work/build")
(cd "$work" && unzip -q "$zip_file")
folder=$(echo "$work"/korvanel-*)
status=0
# expect WHAT COMMAND...: the command must succeed.
expect() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; status=1; fi
}
file_type_is() { [[ "$(file -b "$1")" == "$2"* ]]; }
listing_is() { [ "$(ls "$1" | sort | tr '\n' ' ')" = "$2" ]; }
sums_vouch_for() { [ "$(cd "$1" && sha256sum -c --strict --ignore-missing SHA256SUMS)" = "$2: OK" ]; }
sums_keep() { [ "$(grep -cvxF "$2" "$1/SHA256SUMS")" = 1 ] && grep -qxF "$2" "$1/SHA256SUMS" && ! grep -q $'\r' "$1/SHA256SUMS"; }

expect "korvanel.exe is the 32-bit build" file_type_is "$folder/korvanel.exe" "PE32 executable (GUI) Intel 80386"
expect "korvanel-x64.exe is the 64-bit build" file_type_is "$folder/korvanel-x64.exe" "PE32+ executable (GUI) x86-64"
committed_is() { git -C "$root" show "HEAD:$2" | cmp -s "$1" -; }
expect "README.md is there, as committed" committed_is "$folder/README.md" README.md
expect "LICENSE is there, as committed" committed_is "$folder/LICENSE" LICENSE
expect "nothing else is there" listing_is "$folder" "LICENSE README.md korvanel-x64.exe korvanel.exe "
expect "SHA256SUMS holds the zip's sum" sums_vouch_for "$work/out" "$(basename "$zip_file")"
expect "SHA256SUMS keeps the other release's line, and holds one more, in LF lines" sums_keep "$work/out" "$other_line"
exit $status
