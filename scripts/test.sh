#!/usr/bin/env bash
# Runs every test: installs what is missing (as root; anyone else is told what
# is missing), builds the four presets, makes the Wine prefixes they name and
# runs their tests (the Windows ones under Wine). Exits non-zero if any test
# fails or if no test ran. The build trees belong to whoever runs it; a second
# run at the same time waits for the first. Whatever ends it, nothing it started
# runs on, and what its tests wrote for themselves is gone (lock.sh's isolate).
# CI=true makes warnings errors, as in CI.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lock.sh
presets=(host sanitize win32 win64)
trees=("${presets[@]/#/build/}")
# The set-up runs outside the namespaces, so that packages are never cut off half-installed;
# the build trees are this run's until it ends.
isolated || lock_run --set-up "${trees[@]}" -- scripts/test.sh "$@"

# Warnings are errors in CI (CI=true), and only there; said on every configure, so that
# no build tree keeps it from an earlier run.
werror=OFF
[ -z "${CI:-}" ] || [ "$CI" = false ] || werror=ON
jobs=$(nproc)
for preset in "${presets[@]}"; do
    echo "=== build $preset"
    cmake --preset "$preset" -DCMAKE_COMPILE_WARNING_AS_ERROR=$werror >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done
# The Wine prefix each tree names (-DKORVANEL_WINEPREFIX), made once before the tests use it.
sed -n 's/^KORVANEL_WINEPREFIX:PATH=//p' "${trees[@]/%//CMakeCache.txt}" | sort -u |
    while read -r prefix; do scripts/wine-session.sh --prefix "$prefix"; done

failed=0
for preset in "${presets[@]}"; do
    echo "=== test $preset"
    ctest --preset "$preset" --no-tests=error -j "$jobs" || failed=1
done
[ "$failed" = 0 ] || { echo "test: FAILED"; exit 1; }
echo "test: all presets passed"
