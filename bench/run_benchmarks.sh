#!/usr/bin/env bash
# Times each program as a whole process, the build's own against its
# *_reference twin (the C library's fgets, sscanf and printf), interleaved
# on the same files, and prints a Markdown table: median wall time of each,
# their ratio, input MB/s of the fast one, and peak resident memory.
#
#   bench/run_benchmarks.sh [ROUNDS]       (default 5; inputs in $BENCH_DIR)
#
# The inputs are made once by generate_inputs (about 1 GB in all):
# a 5,000,000 x 10 table, a 1,000,000 x 5 table with a 500,000-entry
# dictionary of its words, and 10,000,000 points of two and of three
# columns.
set -euo pipefail

rounds=${1:-5}
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build/release/bin
dir=${BENCH_DIR:-/tmp/pcgrid-bench}
timer=/usr/bin/time
[ -x "$timer" ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
[ -x "$bin/lettercode_reference" ] || cmake --workflow --preset default >/dev/null

mkdir -p "$dir"
cd "$dir"
[ -s table_5m_10.txt ] || "$bin/generate_inputs" table 5000000 10 1 >table_5m_10.txt
[ -s table_1m_5.txt ] || "$bin/generate_inputs" table 1000000 5 3 >table_1m_5.txt
[ -s points_10m_3.txt ] || "$bin/generate_inputs" points 10000000 3 2 >points_10m_3.txt
[ -s points_10m_2.txt ] || "$bin/generate_inputs" points 10000000 2 2 >points_10m_2.txt
if [ ! -s dictionary/cwords_clusters ]; then
  # The words by population, numbered from 1, then random words of the
  # code up to 500,000 entries.
  mkdir -p dictionary
  "$bin/lettercode" <table_1m_5.txt 2>/dev/null | sort | uniq -c | sort -rn |
    awk '{ print $2, NR }' | head -n 500000 >dictionary/cwords_clusters
  awk -v have="$(wc -l <dictionary/cwords_clusters)" 'BEGIN {
      srand(4); code = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
      for (i = have; i < 500000; i++) {
        w = ""; for (d = 0; d < 5; d++) w = w substr(code, 1 + int(rand() * 52), 1)
        print w, 1 + int(rand() * 1000)
      } }' >>dictionary/cwords_clusters
fi
mkdir -p grid

# run NAME PROGRAM INPUT_FILE [ARGS...]: one timed run; appends "seconds kB".
run() {
  local name=$1 program=$2 input=$3
  shift 3
  case $name in
    gridmap*) (cd grid && "$timer" -f '%e %M' -a -o "../$name.times" "$bin/$program" "$@" >/dev/null || true) ;;
    clusterback*) (cd dictionary && "$timer" -f '%e %M' -a -o "../$name.times" "$bin/$program" <"../$input" >/dev/null 2>&1) ;;
    *) "$timer" -f '%e %M' -a -o "$name.times" "$bin/$program" <"$input" >/dev/null 2>&1 ;;
  esac
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

row() {
  local label=$1 name=$2 input=$3
  local fast ref rss mb
  fast=$(awk '/^[0-9.]+ [0-9]+$/ { print $1 }' "$name.times" | median)
  ref=$(awk '/^[0-9.]+ [0-9]+$/ { print $1 }' "${name}_reference.times" | median)
  rss=$(awk '/^[0-9.]+ [0-9]+$/ { print $2 }' "$name.times" | median)
  mb=$(stat -L -c %s "$input")
  awk -v l="$label" -v f="$fast" -v r="$ref" -v m="$mb" -v k="$rss" 'BEGIN {
    printf "| %s | %.2f s | %.2f s | %.1fx | %.0f MB/s | %.0f MB |\n", l, f, r, r / f, m / f / 1e6, k / 1024 }'
}

rm -f ./*.times
for ((i = 0; i < rounds; i++)); do
  for variant in "" _reference; do
    run "lettercode$variant" "lettercode$variant" table_5m_10.txt
    run "clusterback$variant" "clusterback$variant" table_1m_5.txt
    run "gridmap$variant" "gridmap$variant" points_10m_3.txt 1001 ../points_10m_3.txt
    run "gridmap_2$variant" "gridmap$variant" points_10m_2.txt 1001 ../points_10m_2.txt
  done
done

echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); median of $rounds runs"
echo
echo "| run | fast | reference | ratio | input | peak memory |"
echo "|---|---|---|---|---|---|"
row "lettercode, 5,000,000 x 10" lettercode table_5m_10.txt
row "clusterback, 1,000,000 x 5, 500,000 words" clusterback table_1m_5.txt
row "gridmap 1001, 10,000,000 x 3" gridmap points_10m_3.txt
row "gridmap 1001, 10,000,000 x 2" gridmap_2 points_10m_2.txt
