#!/usr/bin/env bash
# Runs one libFuzzer target for a while from the seeds in the repo, keeping what
# it learns in the build tree, and says how many inputs it tried.
# Usage: run-fuzzer.sh FUZZER SECONDS SEED_DIR WORK_DIR
set -euo pipefail
fuzzer=$1 seconds=$2 seeds=$3 work=$4
mkdir -p "$work/corpus" "$work/artifacts"
set +e
"$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds" >"$work/log" 2>&1
status=$?
set -e
grep -E 'stat::number_of_executed_units|stat::peak_rss_mb|INFO: Seed|ERROR|invariant|SUMMARY' "$work/log" || true
if [ $status -ne 0 ]; then
    tail -n 40 "$work/log"
    echo "$(basename "$fuzzer"): failed; the input is in $work/artifacts"
fi
exit $status
