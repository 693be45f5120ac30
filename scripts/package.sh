#!/usr/bin/env bash
# Makes the release zip: a folder per architecture, x86 and x64, each with that
# build as korvanel.exe, and the READMEs, the licence and the pages they link to,
# as the last commit holds them. The same commit gives the same bytes on any
# machine and file system: Python's zipfile sets every field (sorted, stored,
# Unix modes, the commit's time or SOURCE_DATE_EPOCH). SHA256SUMS beside it
# keeps other files' lines, sorted by version; `sha256sum -c --ignore-missing
# SHA256SUMS` checks it there.
#
# With --home, the project's home page, it also writes the winget manifest set
# and the Scoop manifest for that zip (scripts/manifests.py): for the assets of
# the GitHub release tagged vVERSION when the home is https://github.com/OWNER/REPO
# and no --url is given, else for the files published at --url, the address of
# the version's own folder on a web server (https://example.org/korvanel/1.0.0/).
#
# Usage: scripts/package.sh [--home URL [--url URL]] [OUTPUT_DIR [BUILD_ROOT]]
#   OUTPUT_DIR  where the zip goes; default build/release
#   BUILD_ROOT  where the win32 and win64 builds are made; default build
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lock.sh
usage="usage: $0 [--home URL [--url URL]] [OUTPUT_DIR [BUILD_ROOT]]"
arguments=("$@")
home="" files=github
if [ "${1:-}" = --home ]; then
    [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
    home=$2
    shift 2
    if [ "${1:-}" = --url ]; then
        [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
        files=$2
        shift 2
    fi
fi
[ "${1:-}" != --url ] || { echo "package: --url needs --home before it, the project's home page" >&2; exit 2; }
[[ "${1:-}" != --* ]] || { echo "$usage" >&2; exit 2; }
out=${1:-build/release}
builds=${2:-build}
version=$(sed -n 's/^project(Korvanel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
isolated || [ -z "$home" ] || python3 scripts/manifests.py "$version" "$home" "$files" --check || exit 2

# Every entry carries one time: a tarball or a clone git will not read (another user's,
# "dubious ownership") cannot say which, and the time of the run would make every zip differ.
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    epoch=$SOURCE_DATE_EPOCH
elif [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
    epoch=$(git log -1 --format=%ct)
elif [[ $(git rev-parse 2>&1) == *"dubious ownership"* ]]; then
    owner=$(stat -c %U .) && [ "$owner" != UNKNOWN ] || owner="user id $(stat -c %u .), which has no name here"
    echo "package: git will not read this clone, which belongs to $owner, not to you; let it with" \
         "'git config --global --add safe.directory $(pwd -P)', or set SOURCE_DATE_EPOCH" >&2
    exit 2
else
    echo "package: git cannot tell the last commit's time here ($(git log -1 --format=%ct 2>&1 | head -n1));" \
         "run it in a clone of your own, or set SOURCE_DATE_EPOCH to the time the entries should carry" >&2
    exit 2
fi
[[ $epoch =~ ^[0-9]+$ ]] || { echo "package: '$epoch' is no time in seconds since 1970" >&2; exit 2; }

isolated || lock_run "$builds/win32" "$builds/win64" -- scripts/package.sh "${arguments[@]}"
mkdir -p "$out"
out=$(cd "$out" && pwd)
for preset in win32 win64; do
    cmake -S . -B "$builds/$preset" --preset "$preset" >/dev/null
    cmake --build "$builds/$preset" --target korvanel >/dev/null
done

# Beside the 32-bit build, under its lock: what a killed run left there, the next one removes.
stage=$builds/win32/release-stage
rm -rf "$stage" && mkdir "$stage"
trap 'rm -rf "$stage"' EXIT
zip_name=korvanel-$version-windows.zip
# The pages go in as the last commit holds them: an uncommitted edit (the
# benchmark's table, say) stays out of a zip stamped with the commit's time;
# without a commit they are the tree's. With them goes every file they link to
# by a relative path, so that no link in the zip is dead.
python3 - "$stage/$zip_name" "korvanel-$version" "$epoch" "$builds" <<'EOF'
import os, re, subprocess, sys, time, zipfile
path, folder, epoch, builds = sys.argv[1:]
def committed(name, linked_from):
    shown = subprocess.run(['git', 'show', f'HEAD:./{name}'], capture_output=True)
    if shown.returncode == 0:
        return shown.stdout
    if name.startswith('..') or not os.path.isfile(name):
        sys.exit(f'package: {linked_from} links to {name}, which is no file of the tree')
    return open(name, 'rb').read()
files = {'x86/korvanel.exe': open(f'{builds}/win32/korvanel.exe', 'rb').read(),
         'x64/korvanel.exe': open(f'{builds}/win64/korvanel.exe', 'rb').read()}
wanted = [('LICENSE', 'the zip'), ('README.md', 'the zip')]
while wanted:
    name, linked_from = wanted.pop()
    if name in files:
        continue
    files[name] = committed(name, linked_from)
    if name.endswith('.md'):
        for target in re.findall(r'\]\(([^)\s#]+)', files[name].decode('utf-8')):
            if not re.match(r'[A-Za-z][A-Za-z0-9+.-]*:', target):
                wanted.append((os.path.normpath(os.path.join(os.path.dirname(name), target)), name))
when = time.gmtime(max(int(epoch), 315532800))[:6]  # zip times begin in 1980
with zipfile.ZipFile(path, 'w') as archive:  # stored: no deflate of any version can change the bytes
    for name in sorted(files):
        info = zipfile.ZipInfo(f'{folder}/{name}', when)
        info.create_system, info.external_attr = 3, (0o100755 if name.endswith('.exe') else 0o100644) << 16  # Unix
        archive.writestr(info, files[name])
EOF
sum=$(cd "$stage" && sha256sum "$zip_name")
mv -f "$stage/$zip_name" "$out/$zip_name"
# The zip's line is replaced, whatever its line ending, or added; all end in LF.
# Sorted by version, the last line is the newest release, whatever order the
# releases were made in.
touch "$out/SHA256SUMS"
awk -v name="$zip_name" -v sum="$sum" '
    { sub(/\r$/, ""); file = $0; sub(/^[0-9A-Fa-f]+ [ *]/, "", file) }
    file == name { if (!replaced) print sum; replaced = 1; next }
    { print }
    END { if (!replaced) print sum }' "$out/SHA256SUMS" | LC_ALL=C sort -s -k2,2V >"$stage/SHA256SUMS"
cp "$stage/SHA256SUMS" "$out/SHA256SUMS"
if [ -n "$home" ]; then
    python3 scripts/manifests.py "$version" "$home" "$files" "$out/$zip_name" "$out" || exit 2
else
    echo "package: no winget or Scoop manifest written: they need the project's home page (--home)" >&2
fi
echo "$out/$zip_name"
