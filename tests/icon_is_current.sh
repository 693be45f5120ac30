#!/usr/bin/env bash
# The committed icon and its preview must be what the generator draws now.
set -euo pipefail
resources=$(cd "$(dirname "$0")/../resources" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$resources/make_icon.py" "$work"
status=0
for file in korvanel.ico korvanel-icon-preview.png; do
    if cmp -s "$work/$file" "$resources/$file"; then
        echo "$file matches the generator"
    else
        echo "$file differs from what resources/make_icon.py draws; run it and commit the result"
        status=1
    fi
done
exit $status
