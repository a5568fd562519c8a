#!/usr/bin/env bash
# Times wordclusters as a whole process on 25,000,000 words, lettercode's
# most, and prints the median wall time and peak memory of each input:
#
#   trajectory  the words of a simulated trajectory of 25,000,000 frames
#               in 5 components (G = 51): many repeated words
#   random      25,000,000 random words of 10 letters: nearly all
#               distinct, the most memory the table can take
#
# and then, on the trajectory's words, wordclusters alone against
# wordclusters writing the state files (--report --ndx --trajectory
# --transitions --blocks 5), rounds interleaved, with the ratio of the
# medians (the target is at most 2) and the files' size; and last the
# dictionary of the trajectory's words made from the counts of 10 shards
# (wordclusters --counts on each, then --counted on the ten count files)
# against the run on the whole word file.
#
#   bench/wordclusters_benchmark.sh [ROUNDS] [WORDS]
#       (default 5 rounds of 25,000,000 words; inputs in $BENCH_DIR)
#
# The inputs are made once by generate_inputs and lettercode (about 425 MB;
# the trajectory takes a minute or two to simulate).
set -euo pipefail

rounds=${1:-5}
words=${2:-25000000}
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build/release/bin
dir=${BENCH_DIR:-/tmp/pcgrid-bench}
timer=/usr/bin/time
[ -x "$timer" ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
[ -x "$bin/wordclusters" ] && [ -x "$bin/generate_inputs" ] || cmake --workflow --preset default >/dev/null

mkdir -p "$dir"
cd "$dir"
[ -s "words_${words}_trajectory.txt" ] ||
  "$bin/generate_inputs" table "$words" 5 7 | "$bin/lettercode" 2>/dev/null >"words_${words}_trajectory.txt"
[ -s "words_${words}_random.txt" ] || "$bin/generate_inputs" words "$words" 10 5 >"words_${words}_random.txt"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "| input | distinct words | median time | peak memory |"
echo "|---|---|---|---|"
for input in trajectory random; do
  rm -f "$input.times"
  for ((r = 0; r < rounds; r++)); do
    "$timer" -f '%e %M' -a -o "$input.times" "$bin/wordclusters" "words_${words}_$input.txt" \
      >/dev/null 2>"$input.summary"
  done
  distinct=$(sed -n 's/.* lines, \([0-9]*\) distinct words.*/\1/p' "$input.summary")
  seconds=$(awk '/^[0-9.]+ [0-9]+$/ { print $1 }' "$input.times" | median)
  kb=$(awk '/^[0-9.]+ [0-9]+$/ { print $2 }' "$input.times" | median)
  echo "| $input, $words words | $distinct | $seconds s | $((kb / 1024)) MB |"
done

# The state files against the dictionary alone.
echo
echo "| trajectory, $words words | median time | peak memory | written |"
echo "|---|---|---|---|"
rm -f plain.times files.times
state_files=(--report states.tsv --ndx states.ndx --trajectory states.txt --transitions transitions.txt
  --blocks 5)
for ((r = 0; r < rounds; r++)); do
  "$timer" -f '%e %M' -a -o plain.times "$bin/wordclusters" "words_${words}_trajectory.txt" \
    >/dev/null 2>/dev/null
  "$timer" -f '%e %M' -a -o files.times "$bin/wordclusters" "${state_files[@]}" \
    "words_${words}_trajectory.txt" >/dev/null 2>/dev/null
done
written=$(cat states.tsv states.ndx states.txt transitions.txt | wc -c)
declare -A median_seconds
for run in plain files; do
  median_seconds[$run]=$(awk '/^[0-9.]+ [0-9]+$/ { print $1 }' "$run.times" | median)
  kb=$(awk '/^[0-9.]+ [0-9]+$/ { print $2 }' "$run.times" | median)
  size=0
  [ "$run" = plain ] || size=$((written / 1000000))
  echo "| $run | ${median_seconds[$run]} s | $((kb / 1024)) MB | $size MB |"
done
echo "ratio: $(awk -v a="${median_seconds[files]}" -v b="${median_seconds[plain]}" \
  'BEGIN { printf "%.2f", a / b }') (target: at most 2)"
rm -f states.tsv states.ndx states.txt transitions.txt

# The counts of 10 shards against the whole file.
shards=10
rm -f shard.*
split -d -n "l/$shards" "words_${words}_trajectory.txt" shard.
"$bin/wordclusters" "words_${words}_trajectory.txt" >whole.dictionary 2>/dev/null
rm -f counts.times counted.times
for ((r = 0; r < rounds; r++)); do
  start=$(date +%s.%N)
  for shard in shard.[0-9][0-9]; do
    "$timer" -f '%e %M' -a -o counts.times "$bin/wordclusters" --counts "$shard" >"$shard.counts" 2>/dev/null
  done
  "$timer" -f '%e %M' -a -o counted.times "$bin/wordclusters" --counted shard.*.counts \
    >counted.dictionary 2>/dev/null
done
cmp -s whole.dictionary counted.dictionary || { echo "the counted dictionary differs" >&2; exit 1; }
echo
echo "| trajectory, $words words in $shards shards | median time | peak memory |"
echo "|---|---|---|"
seconds=$(awk '/^[0-9.]+ [0-9]+$/ { print $1 }' counts.times | median)
kb=$(awk '/^[0-9.]+ [0-9]+$/ { print $2 }' counts.times | median)
echo "| --counts, one shard | $seconds s | $((kb / 1024)) MB |"
seconds=$(awk '/^[0-9.]+ [0-9]+$/ { print $1 }' counted.times | median)
kb=$(awk '/^[0-9.]+ [0-9]+$/ { print $2 }' counted.times | median)
echo "| --counted, the $shards count files | $seconds s | $((kb / 1024)) MB |"
echo "| the whole file (above, plain) | ${median_seconds[plain]} s | |"
echo "the dictionaries are identical; count files: $(cat shard.*.counts | wc -c) bytes"
rm -f shard.* whole.dictionary counted.dictionary
