#!/usr/bin/env bash
# Configures the project the way a Windows host does (MSYS2's MinGW, where the
# tests run without Wine), with GoogleTest and without it. Linux cannot build or
# run that branch of the CMake files, but it can prove that configuring it works
# and that it registers the tests a Windows developer runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# configure NAME "EXPECTED TESTS" [VARIABLE=VALUE ...] [CMAKE ARGS...]
# The environment is the caller's without MSYSTEM, but for what the case sets.
# EXPECTED TESTS "refused: TEXT" means configuring must stop with TEXT in its message.
configure() {
    local name=$1 expected=$2 tests
    local environment=()
    shift 2
    while [[ "${1:-}" == *=* && "${1:-}" != -* ]]; do environment+=("$1"); shift; done
    if ! env -u MSYSTEM "${environment[@]}" cmake -S "$root" -B "$work/$name" \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
            -DCMAKE_HOST_WIN32=ON -DCMAKE_BUILD_TYPE=MinSizeRel "$@" >"$work/$name.log" 2>&1; then
        if [[ "$expected" == "refused: "* ]] && tr -s ' \n' ' ' <"$work/$name.log" | grep -qF "${expected#refused: }"; then
            echo "ok: $name is refused"
        else
            echo "FAILED: $name: configuring stopped:"; tail -n 20 "$work/$name.log"
            status=1
        fi
        return
    fi
    tests=$(cd "$work/$name" && ctest -N | sed -n 's/^ *Test *#[0-9]*: //p' | sort | tr '\n' ' ' | sed 's/ $//')
    if [ "$tests" = "$expected" ]; then
        echo "ok: $name configures, tests: ${tests:-none}"
    else
        echo "FAILED: $name: expected tests '$expected', got '$tests'"
        status=1
    fi
}

windows_tests="e2e windows_resources windows_unit_tests"
configure "googletest-from-sources" "$windows_tests" -DKORVANEL_GTEST_SOURCE=/usr/src/googletest
# As MSYS2's package installs it, found by find_package. Configuring needs only
# its targets, so a package file that names them stands in.
mkdir "$work/gtest"
printf 'add_library(GTest::%s INTERFACE IMPORTED)\n' gtest gtest_main >"$work/gtest/GTestConfig.cmake"
configure "installed-googletest" "$windows_tests" -DKORVANEL_GTEST_SOURCE="$work/none" -DGTest_DIR="$work/gtest"
configure "without-googletest" "" -DKORVANEL_GTEST_SOURCE="$work/none" -DGTest_DIR="$work/none"
# MSYS2's UCRT64 links another C runtime than the tool's: refused, naming the right shells.
configure "msys2-ucrt64" "refused: configure from MSYS2's MINGW32 shell" MSYSTEM=UCRT64 \
    -DKORVANEL_GTEST_SOURCE=/usr/src/googletest
configure "msys2-mingw32" "$windows_tests" MSYSTEM=MINGW32 -DKORVANEL_GTEST_SOURCE=/usr/src/googletest
exit $status
