#!/usr/bin/env bash
# Throughput of pctable as a whole process: a large space-separated table
# (label column kept), the same as CSV with a header, and a multi-set xvg
# file as gmx anaeig -proj writes it (5 sets, time first). Each is timed
# writing a file (-o, one pass) and writing standard output (checked to the
# end first, then written: two passes). Prints a Markdown table of median
# wall times and input MB/s.
#
#   bench/pctable_benchmark.sh [ROUNDS]      (default 5; inputs in $BENCH_DIR)
set -euo pipefail

rounds=${1:-5}
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build/release/bin
dir=${BENCH_DIR:-/tmp/pcgrid-bench}
[ -x "$bin/pctable" ] && [ -x "$bin/generate_inputs" ] ||
  cmake --build --preset default --target pctable generate_inputs >/dev/null

mkdir -p "$dir"
cd "$dir"
[ -s pct_2m_10.txt ] || "$bin/generate_inputs" table 2000000 10 1 >pct_2m_10.txt
[ -s pct_2m_10.csv ] ||
  { echo "frame,PC1,PC2,PC3,PC4,PC5,PC6,PC7,PC8,PC9,PC10"; awk -v OFS=, '{ $1 = $1; print }' pct_2m_10.txt; } >pct_2m_10.csv
if [ ! -s pct_1m_5.xvg ]; then
  "$bin/generate_inputs" table 1000000 5 3 | awk '
    { t[NR] = sprintf("%10.4f", (NR - 1) * 0.04); for (s = 1; s <= 5; s++) v[s, NR] = $(s + 1) }
    END {
      print "# gmx anaeig -proj"
      for (s = 1; s <= 5; s++) {
        printf "@ with g%d\n@ g%d on\n@ yaxis  label \"vec %d\"\n", s - 1, s - 1, s
        if (s == 5) print "@ xaxis  label \"Time (ps)\""
        for (i = 1; i <= NR; i++) printf "%s %10.5f\n", t[i], v[s, i]
        print "&"
      }
    }' >pct_1m_5.xvg
fi

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# time_run NAME ARGS...: appends the wall time of one run to NAME.times.
time_run() {
  local name=$1
  shift
  local start end
  start=$(date +%s.%N)
  "$bin/pctable" "$@" 2>/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }' >>"$name.times"
}

rm -f ./*.times
for ((i = 0; i < rounds; i++)); do
  time_run txt_o --label-column 1 -o out.table pct_2m_10.txt
  time_run txt_stdout --label-column 1 pct_2m_10.txt >/dev/null
  time_run csv_o --label-column 1 -o out.table pct_2m_10.csv
  time_run csv_stdout --label-column 1 pct_2m_10.csv >/dev/null
  time_run xvg_o -o out.table pct_1m_5.xvg
  time_run xvg_stdout pct_1m_5.xvg >/dev/null
done
rm -f out.table

row() {
  local label=$1 name=$2 input=$3
  local seconds bytes
  seconds=$(median <"$name.times")
  bytes=$(stat -L -c %s "$input")
  awk -v l="$label" -v s="$seconds" -v b="$bytes" 'BEGIN {
    printf "| %s | %.0f MB | %.2f s | %.0f MB/s |\n", l, b / 1e6, s, b / s / 1e6 }'
}

echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); median of $rounds runs"
echo
echo "| run | input | time | input rate |"
echo "|---|---|---|---|"
row "2,000,000 x 10 text, -o" txt_o pct_2m_10.txt
row "2,000,000 x 10 text, standard output" txt_stdout pct_2m_10.txt
row "2,000,000 x 10 CSV with a header, -o" csv_o pct_2m_10.csv
row "2,000,000 x 10 CSV with a header, standard output" csv_stdout pct_2m_10.csv
row "xvg, 5 sets of 1,000,000 rows, -o" xvg_o pct_1m_5.xvg
row "xvg, 5 sets of 1,000,000 rows, standard output" xvg_stdout pct_1m_5.xvg
