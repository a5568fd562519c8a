#!/usr/bin/env bash
# Usage: tests/fuzz/run_fuzzers.sh SECONDS
#
# Builds the fuzz preset and runs each libFuzzer harness, one after the
# other, for SECONDS seconds on its seed corpus and on the inputs earlier
# runs kept in build/fuzz/corpus/<harness>. Fails if any harness finds an
# input that crashes, hangs, trips a sanitizer or fails a check; the input
# is written to build/fuzz/findings/ and the harness's log is shown.
set -euo pipefail

if [ $# -ne 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "Usage: $0 SECONDS" >&2
  exit 2
fi
seconds=$1
cd "$(dirname "$0")/../.."

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

harnesses=(pc_line_fuzzer dictionary_fuzzer grid_file_fuzzer gridmap_line_fuzzer conversion_fuzzer
           gridplot_reader_fuzzer word_reader_fuzzer pctable_xvg_fuzzer pctable_text_fuzzer
           pctable_npy_fuzzer)
mkdir -p build/fuzz/findings build/fuzz/logs
failed=()
for harness in "${harnesses[@]}"; do
  mkdir -p "build/fuzz/corpus/$harness"
  log="build/fuzz/logs/$harness.log"
  status=0
  "build/fuzz/bin/$harness" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -dict=tests/fuzz/numbers.dict -artifact_prefix="build/fuzz/findings/$harness-" \
    "build/fuzz/corpus/$harness" "tests/fuzz/corpus/$harness" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ "$status" -ne 0 ]; then
    failed+=("$harness")
    echo "$harness: FAILED (exit status $status)"
    tail -n 40 "$log"
  else
    echo "$harness: ${runs:-?} executions in $seconds s, nothing found"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "Findings from: ${failed[*]} (inputs in build/fuzz/findings/)" >&2
  exit 1
fi
