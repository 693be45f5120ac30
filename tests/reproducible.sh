#!/usr/bin/env bash
# Builds the tool twice from scratch, in two build folders at different paths,
# for each Windows target, and fails unless the executables are equal byte for byte;
# then the release zip and its manifests, made under two umasks and two temporary folders.
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

# The release zip from the two build folders, once under umask 002 with its
# staging folder on tmpfs in a setgid folder (which GNU chmod keeps on folders
# made in it), once under umask 022 on disk in another locale: the same bytes,
# for neither modes, listing order nor locale may reach the zip.
shm=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work" "$shm"' EXIT
chmod g+s "$shm"
mkdir "$work/tmp"
home=https://github.com/example/korvanel
(umask 002 && TMPDIR=$shm "$source_dir/scripts/package.sh" --home "$home" "$work/zip-a" "$work/first" >/dev/null)
(umask 022 && TMPDIR=$work/tmp LC_ALL=C.UTF-8 "$source_dir/scripts/package.sh" --home "$home" "$work/zip-b" \
    "$work/second-with-a-longer-path" >/dev/null)
a=$(echo "$work"/zip-a/*.zip) b=$(echo "$work"/zip-b/*.zip)
if ! cmp -s "$a" "$b"; then
    echo "zip: the two zips differ:"; diff <(unzip -Z -l "$a") <(unzip -Z -l "$b")
    status=1
elif ! diff -r "$work/zip-a" "$work/zip-b"; then
    echo "release: the zips are the same, the manifests or sums beside them differ (above)"
    status=1
else
    echo "release: the same zip and manifests under umask 002 on $(stat -f -c %T "$shm") (setgid)" \
         "and umask 022 on $(stat -f -c %T "$work")"
fi
exit $status
