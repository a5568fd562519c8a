#!/usr/bin/env bash
# Times wordclusters as a whole process on 25,000,000 words, lettercode's
# most, and prints the median wall time and peak memory of each input:
#
#   trajectory  the words of a simulated trajectory of 25,000,000 frames
#               in 5 components (G = 51): many repeated words
#   random      25,000,000 random words of 10 letters: nearly all
#               distinct, the most memory the table can take
#
#   bench/wordclusters_benchmark.sh [ROUNDS]   (default 5; inputs in $BENCH_DIR)
#
# The inputs are made once by generate_inputs and lettercode (about 425 MB;
# the trajectory takes a minute or two to simulate).
set -euo pipefail

rounds=${1:-5}
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build/release/bin
dir=${BENCH_DIR:-/tmp/pcgrid-bench}
timer=/usr/bin/time
[ -x "$timer" ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
[ -x "$bin/wordclusters" ] && [ -x "$bin/generate_inputs" ] || cmake --workflow --preset default >/dev/null

mkdir -p "$dir"
cd "$dir"
[ -s words_25m_trajectory.txt ] ||
  "$bin/generate_inputs" table 25000000 5 7 | "$bin/lettercode" 2>/dev/null >words_25m_trajectory.txt
[ -s words_25m_random.txt ] || "$bin/generate_inputs" words 25000000 10 5 >words_25m_random.txt

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "| input | distinct words | median time | peak memory |"
echo "|---|---|---|---|"
for input in trajectory random; do
  rm -f "$input.times"
  for ((r = 0; r < rounds; r++)); do
    "$timer" -f '%e %M' -a -o "$input.times" "$bin/wordclusters" "words_25m_$input.txt" \
      >/dev/null 2>"$input.summary"
  done
  distinct=$(sed -n 's/.* lines, \([0-9]*\) distinct words.*/\1/p' "$input.summary")
  seconds=$(awk '/^[0-9.]+ [0-9]+$/ { print $1 }' "$input.times" | median)
  kb=$(awk '/^[0-9.]+ [0-9]+$/ { print $2 }' "$input.times" | median)
  echo "| $input, 25,000,000 words | $distinct | $seconds s | $((kb / 1024)) MB |"
done
