#!/usr/bin/env bash
# clang-tidy (configured in .clang-tidy) and cppcheck over the tool's own code,
# every shell script of the project through shellcheck, and the benchmark
# report's own examples. Any finding fails.
# Usage: static_analysis.sh HOST_BUILD_DIR (with compile_commands.json)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
cd "$root"

portable=(args/text.cpp args/arguments.cpp usage/usage.cpp app/run.cpp platform/platform_double.cpp)
windows=(app/entry.cpp platform/platform_windows.cpp)
status=0

echo "clang-tidy: ${portable[*]}"
clang-tidy --quiet -p "$build" "${portable[@]}" 2>/dev/null || status=1
for target in i686-w64-mingw32 x86_64-w64-mingw32; do
    echo "clang-tidy ($target): ${windows[*]}"
    clang-tidy --quiet "${windows[@]}" -- --target=$target -I. -std=c++17 2>/dev/null || status=1
done

echo "cppcheck: app args usage platform"
cppcheck --enable=warning,style,performance,portability --std=c++17 --inline-suppr --quiet \
    --error-exitcode=1 -I . app args usage platform || status=1

mapfile -t shell_scripts < <(find scripts tests .ci -type f \( -name '*.sh' -o -path .ci/run \) | sort)
echo "shellcheck: ${#shell_scripts[@]} scripts"
shellcheck -S warning "${shell_scripts[@]}" || status=1

# The benchmark report's reading of timings, on the made-up sessions in its docstring.
echo "doctest: bench/report.py"
python3 -m doctest bench/report.py || status=1

[ $status = 0 ] && echo "static analysis: no findings"
exit $status
