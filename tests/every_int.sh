#!/usr/bin/env bash
# "%10d" and "%4d" of every int32, the fast formatting against printf: the
# 2^32 bit patterns in as many parallel slices as there are processors.
#
#   tests/every_int.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
test=$top/build/release/bin/conversion_differential_test
[ -x "$test" ] || cmake --workflow --preset default >/dev/null
slices=$(nproc)
size=$(((1 << 32) / slices + 1))
pids=()
for ((s = 0; s < slices; s++)); do
  from=$((s * size))
  to=$(((s + 1) * size))
  ((to > 1 << 32)) && to=$((1 << 32))
  PCGRID_INT_BITS=$from:$to "$test" --gtest_filter='*IntFormatsEqualPrintf*' --gtest_brief=1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
[ $status -eq 0 ] && echo "every int32: \"%10d\" and \"%4d\" equal printf"
exit $status
