#!/usr/bin/env bash
# Runs every test: installs what is missing (as root; anyone else is told what
# is missing), makes the Wine prefix, builds the four presets and runs their
# tests (the Windows ones under Wine). Exits non-zero if any test fails or if no
# test ran. The build trees belong to whoever runs it; a second run at the same
# time waits for the first. Whatever ends it, nothing it started runs on, and
# what its tests wrote for themselves is gone (lock.sh's isolate). CI=true makes
# warnings errors, as in CI.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lock.sh
presets=(host sanitize win32 win64)

if ! isolated; then
    # Outside the namespace: packages are never cut off half-installed.
    scripts/prerequisites.sh
    # The build trees are this run's until it ends: another run building or
    # running them at the same time would corrupt them or test half of them.
    for preset in "${presets[@]}"; do
        lock_tree tree_lock "build/$preset" || exit 2
    done
    isolate scripts/test.sh "$@"
    exit
fi
# The tests' own temporary files live on a tmpfs that ends with the run.
mount -t tmpfs tmpfs /tmp
export TMPDIR=/tmp
scripts/wine-session.sh --prefix build/wineprefix

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

failed=0
for preset in "${presets[@]}"; do
    echo "=== test $preset"
    ctest --preset "$preset" --no-tests=error -j "$jobs" || failed=1
done
[ "$failed" = 0 ] || { echo "test: FAILED"; exit 1; }
echo "test: all presets passed"
