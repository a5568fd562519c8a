#!/bin/sh
# How far gridmap --sum of weighted shards is from the run on the joined
# file: 1,000,000 points of generate_inputs with random weights (6
# decimals, 0 to 10), on limits given, on 101 by 101 and 1001 by 1001
# grids, cut into 3 and 10 shards of whole lines, each run in a folder of
# its own. Prints, for each grid and number of shards, the nodes whose
# printed text differs from the joined run's in each matrix. With WIDE=1
# the weights spread over 13 orders of magnitude instead ("%.6e" of
# exp(30 u - 15)), so that many sums of a node are no longer exact in a
# double and the order of the additions shows in their last bits.
#
# Usage: [WIDE=1] bench/weight_sums.sh BIN_DIR [WORK_DIR]
set -eu
[ $# -ge 1 ] || { echo "usage: $0 BIN_DIR [WORK_DIR]" >&2; exit 2; }
bin=$(cd "$1" && pwd)
work=${2:-$(mktemp -d)}
mkdir -p "$work" && cd "$work"
limits="-4 4 -3 4"

# The nodes whose text differs between two matrices of the same shape.
differing() {
  paste -d '\n' "$1" "$2" | awk 'NR % 2 { a = $0; next }
    { n = split(a, x, " "); split($0, y, " "); for (i = 1; i <= n; i++) if (x[i] != y[i]) c++ }
    END { print c + 0 }'
}

# run FOLDER DATA GRID: a weighted run on the limits, in FOLDER.
run() {
  rm -rf "$1" && mkdir "$1"
  (cd "$1" && "$bin/gridmap" --limits $limits --weights "$3" "$2" > gridmap.log) || true
  grep -q '^All done\.$' "$1/gridmap.log" || { tail -n 3 "$1/gridmap.log" >&2; exit 1; }
}

[ -f joined ] || "$bin/generate_inputs" points 1000000 2 5 |
  awk -v wide="${WIDE:-0}" 'BEGIN { srand(7) }
    wide == 1 { printf "%s %s %.6e\n", $1, $2, exp(30 * rand() - 15); next }
    { printf "%s %s %.6f\n", $1, $2, rand() * 10 }' > joined
for grid in 101 1001; do
  run whole "$work/joined" "$grid"
  for shards in 3 10; do
    rm -f part.*
    split -n "l/$shards" -d -a 2 joined part.
    logs=
    for part in part.*; do
      run "s.$part" "$work/$part" "$grid"
      logs="$logs ../s.$part/gridmap.log"
    done
    rm -rf sum && mkdir sum
    (cd sum && "$bin/gridmap" --sum $logs > gridmap.log) || true
    grep -q '^All done\.$' sum/gridmap.log || { tail -n 3 sum/gridmap.log >&2; exit 1; }
    for matrix in grid.matrix grid_log.matrix grid_weights.matrix; do
      [ -f "whole/$matrix" ] || continue
      echo "$grid by $grid, $shards shards, $matrix: $(differing whole/$matrix sum/$matrix) nodes differ"
    done
    rm -rf s.part.* part.*
  done
done
