#!/bin/sh
# The shard recipe of examples/shards against the workflow run on one
# machine over the joined shards: a generated table cut into three shards
# of different sizes goes through run-parallel.sh, and the grid, the words,
# the dictionary, the members, the state files (frame numbers offset by the
# shards before) and the maps must be those of the joined table, byte for
# byte.  With --slurm, the same shards then go through submit-slurm.sh on
# a Slurm of one node started on this machine (as root, with slurm-wlm and
# munge installed), whose every file must be the GNU parallel run's.
#
# Usage: tests/shards_test.sh [--slurm] BIN_DIR
#
# Exit status 77 (skipped) when a program of BIN_DIR lacks an option that
# the recipe needs, or GNU parallel is not installed.
set -eu

slurm=no
if [ "${1:-}" = --slurm ]; then
  slurm=yes
  shift
fi
[ $# -eq 1 ] || { echo "usage: $0 [--slurm] BIN_DIR" >&2; exit 2; }
bin=$(cd "$1" && pwd)
shards_dir=$(cd "$(dirname "$0")/../examples/shards" && pwd)
work=$(mktemp -d)
slurm_dir=
cleanup() {
  if [ -n "$slurm_dir" ]; then
    "$shards_dir/local-slurm.sh" stop "$slurm_dir" || true
    rm -rf "$slurm_dir"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

LC_ALL=C
export LC_ALL

fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

skip() {
  printf 'SKIP: %s\n' "$*"
  exit 77
}

# The options the recipe uses, as each program's --help lists them (a build
# without --help reads its standard input, here empty, and lists nothing),
# and gridmap reading a pipe.
missing=
for probe in "lettercode --grid-of" "lettercode --grid" "clusterback --grid" \
  "wordclusters --counts" "wordclusters --counted" "wordclusters --dictionary" \
  "wordclusters --by-segment" "gridmap --sum"; do
  program=${probe%% *}
  option=${probe#* }
  "$bin/$program" --help < /dev/null 2>&1 | grep -Eq -- "$option([^a-z-]|\$)" ||
    missing="$missing, $probe"
done
(cd "$work" && printf '0 0\n1 1\n' | "$bin/gridmap" --limits 0 1 0 1 3 - 2>&1 | grep -q '^All done\.$') ||
  missing="$missing, gridmap --limits reading -"
rm -f "$work/grid.matrix" "$work/grid_log.matrix"
[ -z "$missing" ] || skip "the shard recipe needs${missing#,}"
command -v parallel >/dev/null 2>&1 || skip "no GNU parallel (Debian package parallel)"
[ -x "$bin/generate_inputs" ] || fail "no $bin/generate_inputs"

# Three shards of one trajectory: 7,000, 11,000 and 12,000 frames of 3 PCs.
cd "$work"
"$bin/generate_inputs" table 30000 3 11 > joined
sed -n '1,7000p' joined > wt.table
sed -n '7001,18000p' joined > r2.table
sed -n '18001,$p' joined > r3.table
sizes="7000 11000 12000"

# The one-machine run on the joined table, each shard a segment.
# one_machine LOG PROGRAM ARGUMENT...: a step of the one-machine run, in one/,
# with its messages in one/LOG.
one_machine() {
  log=$1
  shift
  (cd one && "$@" 2> "$log") || { cat "one/$log" >&2; fail "the one-machine run: $1 failed"; }
}
mkdir one
one_machine grid.log "$bin/lettercode" --grid-of ../joined > one/grid
one_machine lettercode.log "$bin/lettercode" < joined > one/words
one_machine wordclusters.log "$bin/wordclusters" --segments 7000,11000,12000 --report states.tsv \
  --ndx states.ndx --trajectory trajectory --transitions transitions words > one/cwords_clusters
one_machine clusterback.log "$bin/clusterback" < joined > one/members
awk '{ print $2, $3 }' joined > one/points
# gridmap ends with status 1 even when it succeeds, and says so last.
(cd one && "$bin/gridmap" 100 points > gridmap.log) || true
grep -q '^All done\.$' one/gridmap.log || fail "the one-machine run: gridmap failed"
states=$(awk 'END { print $2 + 0 }' one/cwords_clusters)
[ "$states" -ge 2 ] || fail "the joined table has $states states: too few to check anything"

"$shards_dir/run-parallel.sh" --bin "$bin" --jobs 2 run wt.table r2.table r3.table > parallel.log 2>&1 ||
  { cat parallel.log >&2; fail "run-parallel.sh failed"; }

# each_shard RUN FILE: the shards' FILE of RUN, end to end.
each_shard() {
  cat "$1/shard.1/$2" "$1/shard.2/$2" "$1/shard.3/$2"
}

same() {
  cmp -s "$1" "$2" || fail "$3"
}

# The shards' files end to end, to compare with the joined table's.
mkdir ends
same run/grid one/grid "the grid of the shards' grids is not the grid of the joined table"
each_shard run words > ends/words
same ends/words one/words "the shards' words are not those of the joined table"
same run/cwords_clusters one/cwords_clusters "the dictionary of the shards' counts is not the joined words'"
each_shard run members > ends/members
same ends/members one/members "the shards' members are not those of the joined table"
each_shard run trajectory > ends/trajectory
same ends/trajectory one/trajectory "the shards' trajectories are not the joined table's"
same run/grid.matrix one/grid.matrix "the sum of the shards' maps is not the joined table's map"
same run/grid_log.matrix one/grid_log.matrix "the sum of the shards' maps has another logarithm"

# The index files, as "GROUP FRAME" lines (without the representatives):
# each shard's frames offset by the frames of the shards before it.
frames_of_groups() {
  awk -v offset="$2" '/^\[ .* \]$/ { group = $2; next }
       group != "representatives" { for (i = 1; i <= NF; i++) print group, $i + offset }' "$1"
}
offset=0
i=1
for size in $sizes; do
  frames_of_groups "run/shard.$i/states.ndx" "$offset"
  offset=$((offset + size))
  i=$((i + 1))
done | sort -k1,1 -k2,2n > ends/ndx
frames_of_groups one/states.ndx 0 | sort -k1,1 -k2,2n > one/ndx
same ends/ndx one/ndx "the shards' index files do not hold the joined table's frames of each state"

# The transitions add up (no visit crosses a segment's end).
each_shard run transitions |
  awk '{ count[$1 " " $2] += $3 } END { for (pair in count) print pair, count[pair] }' |
  sort -k1,1n -k2,2n > ends/transitions
same ends/transitions one/transitions "the shards' transitions do not add up to the joined table's"

# The reports: frames and visits add up, the peaks agree, and the
# representative is that of the first shard with frames in the state.
offset=0
i=1
for size in $sizes; do
  awk -F '\t' -v offset="$offset" 'NR > 1 { print $1, $2, $7, ($2 > 0 ? $8 + offset : "-"), $9 }' \
    "run/shard.$i/states.tsv"
  offset=$((offset + size))
  i=$((i + 1))
done |
  awk '{ frames[$1] += $2; visits[$1] += $5; peak[$1] = $3
         if (!($1 in representative) && $4 != "-") representative[$1] = $4 }
       END { for (s in frames) print s, frames[s], peak[s], representative[s], visits[s] }' |
  sort -n > ends/report
awk -F '\t' 'NR > 1 { print $1, $2, $7, $8, $9 }' one/states.tsv > one/report
same ends/report one/report "the shards' reports do not add up to the joined table's"

# The per-segment table: a row per state, each shard a segment named after
# its table, with the frames of the shard's own report.
awk -F '\t' 'NR > 1 { print $1, $2, $5, $8 }' run/segments.tsv > ends/segment_frames
for i in 1 2 3; do
  awk -F '\t' 'NR > 1 { print $2 }' "run/shard.$i/states.tsv" > "ends/frames.$i"
done
awk 'NR > 1 { print $1 }' one/states.tsv | paste -d ' ' - ends/frames.1 ends/frames.2 ends/frames.3 \
  > ends/report_frames
same ends/segment_frames ends/report_frames "segments.tsv does not give each shard's frames of each state"
head -n 1 run/segments.tsv | grep -q '^state	wt_frames	.*	r2_frames	.*	r3_frames	' ||
  fail "segments.tsv does not name the segments after the shards' tables"

[ "$slurm" = yes ] || exit 0

# The Slurm form, on a cluster of this machine alone: the same files.
# munged wants a folder that everyone can pass through, which $work is not.
slurm_dir=$(mktemp -d)
conf=$("$shards_dir/local-slurm.sh" start "$slurm_dir") || fail "the local Slurm did not start"
SLURM_CONF=$conf
export SLURM_CONF
# A node that goes down leaves the jobs pending: ten minutes are plenty.
timeout 600 "$shards_dir/submit-slurm.sh" --bin "$bin" --wait srun wt.table r2.table r3.table \
  > slurm.log 2>&1 || { cat slurm.log >&2; fail "submit-slurm.sh failed or took too long"; }
for file in grid cwords_clusters grid.matrix grid_log.matrix segments.tsv; do
  same "srun/$file" "run/$file" "the Slurm run's $file is not GNU parallel's"
done
for i in 1 2 3; do
  for file in grid words counts grid.matrix grid_log.matrix states.tsv states.ndx trajectory \
    transitions members; do
    same "srun/shard.$i/$file" "run/shard.$i/$file" "the Slurm run's shard.$i/$file is not GNU parallel's"
  done
done
