#!/usr/bin/env bash
# Makes the release zip: the 32-bit korvanel.exe, the 64-bit one as
# korvanel-x64.exe, the README and licence of the last commit. The same commit
# gives the same bytes on any machine and file system: Python's zipfile sets
# every field (sorted, stored, Unix modes, the commit's time or SOURCE_DATE_EPOCH).
# SHA256SUMS beside it keeps other files' lines; `sha256sum -c --ignore-missing
# SHA256SUMS` checks it there.
#
# Usage: scripts/package.sh [OUTPUT_DIR [BUILD_ROOT]]
#   OUTPUT_DIR  where the zip goes; default build/release
#   BUILD_ROOT  where the win32 and win64 builds are made; default build
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lock.sh
out=${1:-build/release}
builds=${2:-build}

# Every entry carries one time: a tarball or a clone git will not read (another user's,
# "dubious ownership") cannot say which, and the time of the run would make every zip differ.
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

if ! isolated; then
    for preset in win32 win64; do lock_tree tree_lock "$builds/$preset" || exit 2; done
    isolate scripts/package.sh "$@"
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)
version=$(sed -n 's/^project(Korvanel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for preset in win32 win64; do
    cmake -S . -B "$builds/$preset" --preset "$preset" >/dev/null
    cmake --build "$builds/$preset" --target korvanel >/dev/null
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
folder=$stage/korvanel-$version zip_name=korvanel-$version-windows.zip
mkdir "$folder"
cp "$builds/win32/korvanel.exe" "$folder/korvanel.exe"
cp "$builds/win64/korvanel.exe" "$folder/korvanel-x64.exe"
# An uncommitted edit (the benchmark's table, say) stays out of a zip stamped
# with the commit's time; without a commit the files are the tree's.
for file in README.md LICENSE; do
    git show "HEAD:./$file" >"$folder/$file" 2>/dev/null || cp "$file" "$folder/$file"
done
python3 - "$folder" "$epoch" "$stage/$zip_name" <<'EOF'
import os, sys, time, zipfile
folder, epoch, path = sys.argv[1:]
when = time.gmtime(max(int(epoch), 315532800))[:6]  # zip times begin in 1980
with zipfile.ZipFile(path, 'w') as archive:  # stored: no deflate of any version can change the bytes
    for name in sorted(os.listdir(folder)):
        info = zipfile.ZipInfo(f'{os.path.basename(folder)}/{name}', when)
        info.create_system, info.external_attr = 3, (0o100755 if name.endswith('.exe') else 0o100644) << 16  # Unix
        archive.writestr(info, open(os.path.join(folder, name), 'rb').read())
EOF
sum=$(cd "$stage" && sha256sum "$zip_name")
mv -f "$stage/$zip_name" "$out/$zip_name"
# The zip's line is replaced, whatever its line ending, or added; all end in LF.
touch "$out/SHA256SUMS"
awk -v name="$zip_name" -v sum="$sum" '
    { sub(/\r$/, ""); file = $0; sub(/^[0-9A-Fa-f]+ [ *]/, "", file) }
    file == name { if (!replaced) print sum; replaced = 1; next }
    { print }
    END { if (!replaced) print sum }' "$out/SHA256SUMS" >"$stage/SHA256SUMS"
cp "$stage/SHA256SUMS" "$out/SHA256SUMS"
echo "$out/$zip_name"
