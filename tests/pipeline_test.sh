#!/bin/sh
# The example pipeline end to end on the bundled sample, with the programs
# of one build: every file is made, the dictionary holds the sample's wells
# as states, the members carry the clusters that the dictionary gives their
# words, and the matrices hold every frame.
#
# Usage: tests/pipeline_test.sh BIN_DIR
set -eu

bin=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

# Never install anything from a test: draw the picture only if gnuplot is here.
"$source_dir/examples/pipeline.sh" --bin "$bin" --no-install "$work/out" > "$work/summary" 2>&1 ||
  { cat "$work/summary" >&2; fail "pipeline.sh failed"; }
cd "$work/out"

for file in table words cwords_clusters states.tsv states.ndx members points grid.matrix \
  grid_log.matrix lettercode.log wordclusters.log clusterback.log gridmap.log; do
  [ -s "$file" ] || fail "$file is missing or empty"
done

vectors=$(wc -l < table)
[ "$(wc -l < words)" -eq "$vectors" ] || fail "not one word per vector"
grep -q "^PC table: *$vectors vectors, 4-dimensional" "$work/summary" ||
  fail "the summary does not give the table's size"

# The dictionary: distinct words, of clusters 1, 2, ... in turn, each
# cluster's words by decreasing population, and the clusters by decreasing
# number of frames.
sort words | uniq -c > "$work/word_counts"
awk 'NR == FNR { frames[$2] = $1; next }
     ($1 in seen) || ($2 != cluster && $2 != cluster + 1) { exit 1 }
     $2 == cluster && frames[$1] > previous { exit 1 }
     { seen[$1] = 1; cluster = $2; previous = frames[$1]; total[$2] += frames[$1] }
     END { for (c = 2; c <= cluster; c++) if (total[c] > total[c - 1]) exit 1 }' \
  "$work/word_counts" cwords_clusters ||
  fail "cwords_clusters is not a dictionary of states numbered by population"
grep -q "^States: *$(awk 'END { print $2 }' cwords_clusters) basins" "$work/summary" ||
  fail "the summary does not give the number of states"
grep -q "^ *state 1 .* frames (.*%) in .* cells, peak $(head -n 1 cwords_clusters | cut -d' ' -f1)\$" \
  "$work/summary" || fail "the summary does not name state 1 with its population and peak"

# The report: a line per state, shown in the summary, each representative a
# frame of its state's peak word, listed in the index file's last group.
[ "$(wc -l < states.tsv)" -eq "$(($(awk 'END { print $2 }' cwords_clusters) + 1))" ] ||
  fail "states.tsv does not have a line per state"
grep -q "^Report: .*states.tsv" "$work/summary" && grep -q "^ *state frames *share share_err" "$work/summary" ||
  fail "the summary does not show the report"
awk -F '\t' 'NR == FNR { word[FNR] = $1; next }
     FNR > 1 { if (word[$8] != $7) exit 1; representatives = representatives (FNR > 2 ? " " : "") $8 }
     END { print representatives }' words states.tsv > "$work/representatives" ||
  fail "a representative is not a frame of its peak"
[ "$(tail -n 1 states.ndx)" = "$(cat "$work/representatives")" ] ||
  fail "states.ndx does not end with the representatives"

# The sample's five wells, centred in PCs 1 to 3 as bench/generate_inputs
# puts them: the frames near each centre (within the wells' width, 0.7) lie
# in a state, nearly all of them in one (two wells may share a state where
# the barrier between them is lower than the pipeline's), and the states
# hold at least 80% of all frames.
awk '
  function fail(message) { print message > "/dev/stderr"; failed = 1; exit 1 }
  BEGIN {
    split("-2 2 0 -1.5 1.6", cx, " "); split("-1 -1.2 2 1.8 1.5", cy, " ")
    split("0 0.5 -0.5 1.0 -1.0", cz, " ")
  }
  NR == FNR { cluster[$1] = $2; members++; next }
  {
    frames++
    for (w = 1; w <= 5; w++) {
      if (($2 - cx[w]) ^ 2 + ($3 - cy[w]) ^ 2 + ($4 - cz[w]) ^ 2 < 0.49) {
        near[w]++
        in_cluster[w, ($1 in cluster) ? cluster[$1] : 0]++
      }
    }
  }
  END {
    if (failed) exit 1
    for (w = 1; w <= 5; w++) {
      best = 0
      for (c = 1; c <= 100; c++) if (in_cluster[w, c] > in_cluster[w, best]) best = c
      if (best == 0 || in_cluster[w, best] < 0.95 * near[w])
        fail("well " w ": " in_cluster[w, best] " of its " near[w] " frames in its state " best)
      if (++wells_of[best] > 2) fail("more than two wells in state " best)
    }
    if (members < 0.8 * frames) fail(members " of " frames " frames in states: less than 80%")
  }' members table || fail "the states do not hold the wells"

# Every member carries the cluster that the dictionary gives the word of its
# vector, with the vector's components; members come in input order; and no
# vector whose word is in the dictionary is missing. Labels are frame numbers,
# so a member's label gives its position in the table.
awk -v dictionary=cwords_clusters -v words=words -v table=table '
  function fail(message) { print message > "/dev/stderr"; failed = 1; exit 1 }
  BEGIN {
    while ((getline line < dictionary) > 0) {
      split(line, f, " ")
      if (!(f[1] in cluster)) cluster[f[1]] = f[2]
    }
    n = 0
    while ((getline w < words) > 0) {
      word[++n] = w
      if (w in cluster && cluster[w] > 0) expected++
    }
    i = 0
    while ((getline line < table) > 0) {
      i++
      split(line, f, " ")
      if (f[1] != i) fail("labels are not frame numbers at line " i)
      pc[i] = line
    }
  }
  {
    position = $1
    if (position <= last) fail("members out of input order at label " $1)
    last = position
    if (!(word[position] in cluster)) fail("label " $1 " has the word " word[position] ", not in the dictionary")
    if ($2 != cluster[word[position]]) fail("label " $1 ": cluster " $2 ", the dictionary gives " word[position] " cluster " cluster[word[position]])
    split(pc[position], f, " ")
    for (d = 1; d <= 4; d++) {
      difference = $(d + 2) - f[d + 1]
      if (difference > 1e-6 || difference < -1e-6) fail("label " $1 ": component " d " is " $(d + 2) ", not " f[d + 1])
    }
    if (NF != 6) fail("label " $1 ": " NF " fields")
    members++
  }
  END {
    if (failed) exit 1
    if (members != expected) fail(members " members, but " expected " vectors have a word of the dictionary")
    if (members == 0) fail("no members")
  }' members || fail "members do not match the dictionary"

# The matrices: 100 rows of 100 values, the counts adding up to every frame.
for matrix in grid.matrix grid_log.matrix; do
  awk 'NF != 100 { exit 1 } END { if (NR != 100) exit 1 }' "$matrix" ||
    fail "$matrix is not 100 by 100"
done
[ "$(awk '{ for (k = 1; k <= NF; k++) s += $k } END { printf "%d", s }' grid.matrix)" -eq "$vectors" ] ||
  fail "grid.matrix does not count every frame"

# The picture, when gnuplot is installed; a hint otherwise.
if command -v gnuplot >/dev/null 2>&1; then
  [ -s landscape.png ] || fail "no landscape.png"
  [ "$(od -An -tx1 -N8 landscape.png | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "landscape.png is not a PNG image"
else
  [ ! -e landscape.png ] || fail "landscape.png without gnuplot"
  grep -q 'Picture: *skipped' "$work/summary" || fail "no hint that the picture was skipped"
fi

# A share that no state reaches is refused with a message, not an empty run.
if "$source_dir/examples/pipeline.sh" --bin "$bin" --no-plot --min-share 60 "$work/none" > "$work/refused" 2>&1; then
  fail "a share of 60% gave states"
fi
grep -q 'no state holds 60% of the frames' "$work/refused" || fail "no message for a share no state holds"

echo "pipeline: all checks passed"
