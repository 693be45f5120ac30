#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the three presets and runs
# their tests (the Windows ones under Wine). Exits non-zero if any test fails
# or if no test ran.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then
    scripts/prerequisites.sh build
else
    echo "test: not root, so nothing is installed; run scripts/prerequisites.sh as root if a step fails"
fi

presets=(host sanitize win32 win64)
jobs=$(nproc)
for preset in "${presets[@]}"; do
    echo "=== build $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done

failed=0
for preset in "${presets[@]}"; do
    echo "=== test $preset"
    # The Linux tests are independent; the Windows ones share one Wine prefix.
    parallel=1
    case "$preset" in host|sanitize) parallel=$jobs ;; esac
    ctest --preset "$preset" --no-tests=error -j "$parallel" || failed=1
done
[ "$failed" = 0 ] || { echo "test: FAILED"; exit 1; }
echo "test: all presets passed"
