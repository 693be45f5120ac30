#!/usr/bin/env bash
# Makes the release zip: the 32-bit korvanel.exe, the 64-bit build beside it as
# korvanel-x64.exe, the README and the licence. The same commit gives the same
# zip on any machine: entries in a fixed order, with fixed modes and the time of
# the last commit (or SOURCE_DATE_EPOCH, when set). Beside the zip goes
# SHA256SUMS, which `sha256sum -c SHA256SUMS` checks in that folder; a line it
# already holds for another file stays.
#
# Usage: scripts/package.sh [OUTPUT_DIR [BUILD_ROOT]]
#   OUTPUT_DIR  where the zip goes; default build/release
#   BUILD_ROOT  where the win32 and win64 builds are made; default build
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lock.sh
out=${1:-build/release}
builds=${2:-build}

# Every entry carries one time: a tarball or a clone git will not read (another
# user's, "dubious ownership") cannot say which, and the time of the run would
# make every zip different.
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    epoch=$SOURCE_DATE_EPOCH
elif [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
    epoch=$(git log -1 --format=%ct)
else
    echo "package: git cannot tell the last commit's time here ($(git log -1 --format=%ct 2>&1 | head -n1));" \
         "run it in a clone of your own, or set SOURCE_DATE_EPOCH to the time the entries should carry" >&2
    exit 2
fi
[[ $epoch =~ ^[0-9]+$ ]] || { echo "package: '$epoch' is no time in seconds since 1970" >&2; exit 2; }

mkdir -p "$out"
out=$(cd "$out" && pwd)
version=$(sed -n 's/^project(Korvanel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for preset in win32 win64; do
    lock_tree tree_lock "$builds/$preset" || exit 2
    cmake -S . -B "$builds/$preset" --preset "$preset" >/dev/null
    cmake --build "$builds/$preset" --target korvanel >/dev/null
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
folder=$stage/korvanel-$version
mkdir "$folder"
cp "$builds/win32/korvanel.exe" "$folder/korvanel.exe"
cp "$builds/win64/korvanel.exe" "$folder/korvanel-x64.exe"
cp README.md LICENSE "$folder/"
chmod 0755 "$folder" "$folder"/*.exe
chmod 0644 "$folder/README.md" "$folder/LICENSE"
export TZ=UTC0
find "$folder" -exec touch -d "@$epoch" {} +

# Made in the staging folder, then moved: zip would add to an older zip of that
# name. The names come sorted, not in the order the file system lists them.
zip_name=korvanel-$version-windows.zip
(cd "$stage" && find "korvanel-$version" | LC_ALL=C sort | zip -q -X -@ "$zip_name")
sum=$(cd "$stage" && sha256sum "$zip_name")
mv -f "$stage/$zip_name" "$out/$zip_name"
# The zip's own line is replaced, or added; every other line stays as it was.
touch "$out/SHA256SUMS"
awk -v name="$zip_name" -v sum="$sum" '
    { file = $0; sub(/^[0-9A-Fa-f]+ [ *]/, "", file) }
    file == name { print sum; replaced = 1; next }
    { print }
    END { if (!replaced) print sum }' "$out/SHA256SUMS" >"$stage/SHA256SUMS"
cp "$stage/SHA256SUMS" "$out/SHA256SUMS"
echo "$out/$zip_name"
