#!/usr/bin/env bash
# What the release workflow asks of a tag, in the repository's top folder: TAG must be
# vMAJOR.MINOR.PATCH and name CMakeLists.txt's version (a pre-release tag would give its
# files the final release's names), and CHANGELOG.md must have that version's section;
# else exit 1, saying why. Writes the section into NOTES, and prints latest=true when TAG
# is the highest vMAJOR.MINOR.PATCH tag of the repository (no other tag counts), else
# latest=false, for GitHub's "latest" release, which Scoop's checkver follows.
# Usage: scripts/release.sh TAG NOTES
set -euo pipefail
[ $# = 2 ] || { echo "usage: $0 TAG NOTES" >&2; exit 2; }
tag=$1 notes=$2
release_tag='^v[0-9]+\.[0-9]+\.[0-9]+$'
version=$(sed -n 's/^project(Korvanel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ $tag =~ $release_tag ]] || { echo "release: '$tag' is no vMAJOR.MINOR.PATCH tag, so it makes no release" >&2; exit 1; }
[ "$tag" = "v$version" ] || { echo "release: the tag is $tag, but CMakeLists.txt says $version" >&2; exit 1; }
# The lines under "## [VERSION]" up to the next version, without link definitions.
section=$(awk -v heading="## [$version]" '
    /^## \[/ { inside = index($0, heading) == 1; next }
    inside && !/^\[[^]]*\]: / && (started || NF) { started = 1; print }' CHANGELOG.md)
[ -n "$section" ] || { echo "release: CHANGELOG.md has no section for $version" >&2; exit 1; }
printf '%s\n' "$section" >"$notes"
tags=$(git tag -l 'v*') || { echo "release: git cannot list the repository's tags" >&2; exit 1; }
newest=$(grep -E "$release_tag" <<<"$tags" | sort -V | tail -n 1) || true
echo "latest=$([ "$newest" = "$tag" ] && echo true || echo false)"
