#!/usr/bin/env bash
# A longer differential run of the fast conversions against the C library's
# than the test suite makes: FIELDS fields (default 100,000,000) for each of
# SEEDS seeds (default 4).
#
#   tests/differential_long.sh [FIELDS] [SEEDS]
set -euo pipefail
fields=${1:-100000000}
seeds=${2:-4}
top=$(cd "$(dirname "$0")/.." && pwd)
test=$top/build/release/bin/conversion_differential_test
[ -x "$test" ] || cmake --workflow --preset default >/dev/null
for ((seed = 1; seed <= seeds; seed++)); do
  echo "seed $seed, $fields fields"
  PCGRID_DIFFERENTIAL_COUNT=$fields PCGRID_DIFFERENTIAL_SEED=$seed "$test" \
    --gtest_filter='*Float*:*Short*:*Int*:*Format*' --gtest_brief=1
done
