#!/usr/bin/env bash
# Times each program as a whole process, the build's own on all threads
# and on one (OMP_NUM_THREADS=1) against its *_reference twin (the C
# library's fgets, sscanf and printf), interleaved on the same files, and
# prints a Markdown table: median wall time of each, the ratios, input MB/s
# on all threads, and peak resident memory; with lettercode, then one
# thread's time per stage of reading its table (bench/stage_breakdown.cpp).
#
#   bench/run_benchmarks.sh [ROUNDS] [PROGRAM...]
#
# ROUNDS defaults to 5; the programs (lettercode, clusterback, gridmap) to
# all three; the inputs are kept in $BENCH_DIR.
#
# The inputs are made once by generate_inputs (about 1 GB in all):
# a 5,000,000 x 10 table, a 1,000,000 x 5 table with a 500,000-entry
# dictionary of its words, and 10,000,000 points of two and of three
# columns.
set -euo pipefail

rounds=${1:-5}
shift $(($# > 0 ? 1 : 0))
programs=" ${*:-lettercode clusterback gridmap} "
wanted() { [[ $programs == *" $1 "* ]]; }
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
if wanted gridmap; then
  [ -s points_10m_3.txt ] || "$bin/generate_inputs" points 10000000 3 2 >points_10m_3.txt
  [ -s points_10m_2.txt ] || "$bin/generate_inputs" points 10000000 2 2 >points_10m_2.txt
fi
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

# run NAME THREADS PROGRAM INPUT_FILE [ARGS...]: one timed run with
# OMP_NUM_THREADS=THREADS (all processors when empty); appends "seconds kB".
run() {
  local name=$1 threads=$2 program=$3 input=$4
  shift 4
  local env=(env)
  [ -n "$threads" ] && env+=(OMP_NUM_THREADS="$threads")
  case $name in
    gridmap*) (cd grid && "$timer" -f '%e %M' -a -o "../$name.times" "${env[@]}" "$bin/$program" "$@" >/dev/null || true) ;;
    clusterback*) (cd dictionary && "$timer" -f '%e %M' -a -o "../$name.times" "${env[@]}" "$bin/$program" <"../$input" >/dev/null 2>&1) ;;
    *) "$timer" -f '%e %M' -a -o "$name.times" "${env[@]}" "$bin/$program" <"$input" >/dev/null 2>&1 ;;
  esac
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() { awk '/^[0-9.]+ [0-9]+$/ { print $1 }' "$1.times" | median; }
peak() { awk '/^[0-9.]+ [0-9]+$/ { print $2 }' "$1.times" | median; }

# row LABEL NAME INPUT: the medians of the fast build on all threads and on
# one, of the reference, their ratios, input MB/s on all threads and the
# peak memory of each.
row() {
  local label=$1 name=$2 input=$3
  awk -v l="$label" -v a="$(seconds "$name")" -v o="$(seconds "${name}_1")" \
    -v r="$(seconds "${name}_reference")" -v m="$(stat -L -c %s "$input")" \
    -v ka="$(peak "$name")" -v ko="$(peak "${name}_1")" -v kr="$(peak "${name}_reference")" 'BEGIN {
    printf "| %s | %.2f s | %.2f s | %.2f s | %.1fx | %.1fx | %.0f MB/s | %.0f / %.0f / %.0f MB |\n",
      l, a, o, r, r / a, r / o, m / a / 1e6, ka / 1024, ko / 1024, kr / 1024 }'
}

rm -f ./*.times
for ((i = 0; i < rounds; i++)); do
  for variant in "" _1 _reference; do
    program_suffix=$variant threads=""
    [ "$variant" = _1 ] && program_suffix="" threads=1
    if wanted lettercode; then
      run "lettercode$variant" "$threads" "lettercode$program_suffix" table_5m_10.txt
    fi
    if wanted clusterback; then
      run "clusterback$variant" "$threads" "clusterback$program_suffix" table_1m_5.txt
    fi
    if wanted gridmap; then
      run "gridmap$variant" "$threads" "gridmap$program_suffix" points_10m_3.txt 1001 ../points_10m_3.txt
      run "gridmap_2$variant" "$threads" "gridmap$program_suffix" points_10m_2.txt 1001 ../points_10m_2.txt
    fi
  done
done

echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); median of $rounds runs"
echo
echo "| run | all threads | one thread | reference | ratio, all | ratio, one | input, all | peak memory (all / one / reference) |"
echo "|---|---|---|---|---|---|---|---|"
if wanted lettercode; then row "lettercode, 5,000,000 x 10" lettercode table_5m_10.txt; fi
if wanted clusterback; then
  row "clusterback, 1,000,000 x 5, 500,000 words" clusterback table_1m_5.txt
fi
if wanted gridmap; then
  row "gridmap 1001, 10,000,000 x 2" gridmap_2 points_10m_2.txt
  row "gridmap 1001, 10,000,000 x 3" gridmap points_10m_3.txt
fi
if wanted lettercode; then
  echo
  "$bin/stage_breakdown" table_5m_10.txt "$rounds"
fi
