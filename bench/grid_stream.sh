#!/usr/bin/env bash
# The word programs on a table that streams through a pipe with a grid
# file, against the in-memory run on the table it is made of: time per
# vector on all threads and peak resident memory, as a Markdown table.
#
#   bench/grid_stream.sh [COPIES]
#
# A table of VECTORS (default 5,000,000) vectors of 5 components is made
# once by generate_inputs in $BENCH_DIR; the stream is COPIES (default 20,
# so 100,000,000 vectors) copies of it, produced on the fly by cat into a
# pipe and never stored. Steps:
#   lettercode and clusterback on the table, in memory (its own grid);
#   lettercode --grid-of on the stream: the grid file of all of it;
#   lettercode --grid and clusterback --grid on the stream.
# clusterback's dictionaries number the 1,000 most populated words of the
# table on each grid. The stream's peak memory must stay flat: it does not
# grow with COPIES. Run it on a quiet machine; it takes a few minutes.
set -euo pipefail

copies=${1:-20}
vectors=${VECTORS:-5000000}
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build/release/bin
dir=${BENCH_DIR:-/tmp/pcgrid-bench}
timer=/usr/bin/time
[ -x "$timer" ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
[ -x "$bin/lettercode" ] && [ -x "$bin/generate_inputs" ] ||
  cmake --build "$top/build/release" --target lettercode clusterback generate_inputs

mkdir -p "$dir/own" "$dir/stream"
cd "$dir"
table=table_${vectors}_5.txt
[ -s "$table" ] || "$bin/generate_inputs" table "$vectors" 5 4 >"$table"
stream() { for ((i = 0; i < copies; ++i)); do cat "$table"; done; }

# The 1,000 most populated words of the table's words on standard input.
dictionary() { sort | uniq -c | sort -rn | awk 'NR <= 1000 { print $2, NR }'; }

# measure NAME VECTORS COMMAND...: one row of the table, from GNU time's
# wall time and peak resident size of the whole pipeline's last command.
measure() {
  local name=$1 n=$2
  shift 2
  "$timer" -o time.txt -f '%e %M' bash -c "$*" >/dev/null 2>&1
  read -r seconds kilobytes <time.txt
  awk -v name="$name" -v n="$n" -v s="$seconds" -v kb="$kilobytes" 'BEGIN {
    printf "| %s | %d | %.2f s | %.1f ns | %.0f MB |\n", name, n, s, s / n * 1e9, kb / 1024 }'
}

"$bin/lettercode" <"$table" 2>/dev/null | dictionary >own/cwords_clusters
stream | "$bin/lettercode" --grid-of >all.grid
"$bin/lettercode" --grid all.grid <"$table" 2>/dev/null | dictionary >stream/cwords_clusters
total=$((vectors * copies))

echo "| run | vectors | time | per vector | peak memory |"
echo "|---|---|---|---|---|"
measure "lettercode, in memory" "$vectors" "'$bin/lettercode' < '$table'"
measure "lettercode --grid-of, stream" "$total" \
  "for ((i = 0; i < $copies; ++i)); do cat '$table'; done | '$bin/lettercode' --grid-of"
measure "lettercode --grid, stream" "$total" \
  "for ((i = 0; i < $copies; ++i)); do cat '$table'; done | '$bin/lettercode' --grid all.grid"
measure "clusterback, in memory" "$vectors" "cd own && '$bin/clusterback' < '../$table'"
measure "clusterback --grid, stream" "$total" \
  "cd stream && for ((i = 0; i < $copies; ++i)); do cat '../$table'; done |
   '$bin/clusterback' --grid ../all.grid"
