#!/usr/bin/env bash
# What the release workflow asks of a tag before anything is built, in the repository's top folder:
# TAG must be vMAJOR.MINOR.PATCH and name CMakeLists.txt's version (a pre-release tag would give its
# files the final release's names), and CHANGELOG.md must have that version's section, under the
# heading manifests.py takes, with nothing under [Unreleased]; else exit 1, saying why. Writes the
# section into NOTES and prints date=. PUBLISHED lists the tags of the repository's published releases,
# one a line: printed published=true if TAG is among them (a run again leaves that release alone),
# else published=false and latest=true when no published release has a higher version, else
# latest=false, for GitHub's "latest" release, which Scoop follows.
# Usage: scripts/release.sh TAG NOTES PUBLISHED
set -euo pipefail
[ $# = 3 ] || { echo "usage: $0 TAG NOTES PUBLISHED" >&2; exit 2; }
tag=$1 notes=$2 published=$3
release_tag='^v[0-9]+\.[0-9]+\.[0-9]+$'
version=$(sed -n 's/^project(Korvanel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ $tag =~ $release_tag ]] || { echo "release: '$tag' is no vMAJOR.MINOR.PATCH tag, so it makes no release" >&2; exit 1; }
[ "$tag" = "v$version" ] || { echo "release: the tag is $tag, but CMakeLists.txt says $version" >&2; exit 1; }
date=$(python3 "$(dirname "$0")/manifests.py" "$version" --notes "$notes") || exit 1
echo "date=$date"
if grep -qxF "$tag" "$published"; then echo "published=true"; exit 0; fi
highest=$({ grep -E "$release_tag" "$published" || :; echo "$tag"; } | sort -V | tail -n 1)
echo "published=false"
echo "latest=$([ "$highest" = "$tag" ] && echo true || echo false)"
