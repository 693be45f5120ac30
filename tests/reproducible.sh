#!/usr/bin/env bash
# Builds the tool twice from scratch, in two build folders at different paths,
# for each Windows target, and fails unless the executables are equal byte for byte.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for preset in win32 win64; do
    for copy in first second-with-a-longer-path; do
        cmake -S "$source_dir" -B "$work/$copy/$preset" --preset "$preset" >/dev/null
        cmake --build "$work/$copy/$preset" --target korvanel >/dev/null
    done
    a=$work/first/$preset/korvanel.exe
    b=$work/second-with-a-longer-path/$preset/korvanel.exe
    if cmp -s "$a" "$b"; then
        echo "$preset: two clean builds are identical ($(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -c1-16))"
    else
        echo "$preset: two clean builds differ:"; cmp -l "$a" "$b" | head -n 10
        status=1
    fi
    if grep -q -a -F "$work" "$a"; then
        echo "$preset: the build path is in the executable"; status=1
    fi
done
exit $status
