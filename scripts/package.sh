#!/usr/bin/env bash
# Makes the release zip: the 32-bit korvanel.exe, the 64-bit build beside it as
# korvanel-x64.exe, the README and the licence. Entries carry the time of the
# last commit, so the same commit gives the same zip. Beside the zip goes
# SHA256SUMS, which `sha256sum -c SHA256SUMS` checks in that folder.
#
# Usage: scripts/package.sh [OUTPUT_DIR [BUILD_ROOT]]
#   OUTPUT_DIR  where the zip goes; default build/release
#   BUILD_ROOT  where the win32 and win64 builds are made; default build
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/release}
builds=${2:-build}
mkdir -p "$out"
out=$(cd "$out" && pwd)

version=$(sed -n 's/^project(Korvanel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for preset in win32 win64; do
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
export TZ=UTC0
stamp=$(git log -1 --format=%cd --date=format-local:%Y%m%d%H%M.%S 2>/dev/null || date +%Y%m%d%H%M.%S)
find "$folder" -exec touch -t "$stamp" {} +

# Made in the staging folder, then moved: zip would add to an older zip of that name.
zip_name=korvanel-$version-windows.zip
(cd "$stage" && zip -q -X -r "$zip_name" "korvanel-$version")
mv -f "$stage/$zip_name" "$out/$zip_name"
(cd "$out" && sha256sum "$zip_name" >SHA256SUMS)
echo "$out/$zip_name"
