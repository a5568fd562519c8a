#!/usr/bin/env bash
# The fast formatting against printf on every bit pattern of 32 bits, in as
# many parallel slices as there are processors:
#
#   tests/every_value.sh float    "%10.7f" and "%8.7e" of every float
#   tests/every_value.sh int      "%10d" and "%4d" of every int32
set -euo pipefail
case ${1:-} in
  float) bits=PCGRID_FLOAT_BITS filter='*FormatsOfFloats*' what='every float: "%10.7f" and "%8.7e"' ;;
  int) bits=PCGRID_INT_BITS filter='*IntFormatsEqualPrintf*' what='every int32: "%10d" and "%4d"' ;;
  *) echo "usage: tests/every_value.sh float|int" >&2; exit 2 ;;
esac
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
  env "$bits=$from:$to" "$test" --gtest_filter="$filter" --gtest_brief=1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
[ $status -eq 0 ] && echo "$what equal printf"
exit $status
