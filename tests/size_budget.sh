#!/usr/bin/env bash
# Fails when a file is larger than its budget. Usage: size_budget.sh FILE BYTES
set -euo pipefail
size=$(stat -c %s "$1")
if [ "$size" -le "$2" ]; then
    echo "ok: $(basename "$1") is $size bytes, within the budget of $2"
else
    echo "FAILED: $(basename "$1") is $size bytes, over the budget of $2"
    exit 1
fi
