#!/bin/sh
# One step of the shard recipe: the whole workflow of examples/pipeline.sh
# over K shards of one data set, split into map steps, each of which reads
# one shard, and reduce steps, which add up what the shards gave.
# run-parallel.sh runs the steps with GNU parallel, submit-slurm.sh as Slurm
# jobs; both run exactly these commands, in this order:
#
#   step          for       reads                         writes
#   grid-of       shard I   its table                     shard.I/grid
#   grid          all       every shard.I/grid            grid (the grid of all)
#   words         shard I   its table, grid               shard.I/words, shard.I/counts,
#                                                         shard.I/grid.matrix (its map)
#   dictionary    all       every shard.I/counts and map  cwords_clusters, grid.matrix
#   states        shard I   its table and words, grid,    shard.I/states.tsv, .ndx,
#                           cwords_clusters               trajectory, transitions, members
#   segments      all       every shard.I/words           segments.tsv (one row per state,
#                                                         its share in every shard)
#
# Usage: shard-step.sh --bin DIR [--barrier KT] [--min-share PERCENT]
#                      [--nodes N] STEP WORK [I]
#
#   --bin DIR        the programs (lettercode, wordclusters, clusterback, gridmap)
#   --barrier KT     basins separated by less than this barrier become one
#                    state (default 1), as in wordclusters
#   --min-share PERCENT  a basin becomes a state when it holds at least this
#                    share of all the frames (default 1)
#   --nodes N        the maps of PC 1 and PC 2 have N x N nodes (default 100)
#   STEP             grid-of, grid, words, dictionary, states or segments
#   WORK             the folder of the run: WORK/tables lists the shards'
#                    PC tables, one path a line, shard 1 first
#   I                the shard, from 1 (default: $SLURM_ARRAY_TASK_ID)
#
# Every shard is a part of one data set (or one replica, or one system) in
# the order the shards are listed: shard I's frames follow those of shard
# I - 1.  The words, the dictionary, the members and the maps are those of
# the one table that the shards make end to end; each shard's state files
# count its frames from 1; segments.tsv takes each shard as a segment, named
# after its table's file.
set -eu

bin=
barrier=1
share=1
nodes=100

usage() {
  echo "usage: $0 --bin DIR [--barrier KT] [--min-share PERCENT] [--nodes N] STEP WORK [I]" >&2
  exit 2
}

fail() {
  printf 'shard-step.sh: %s\n' "$*" >&2
  exit 1
}

while [ $# -gt 0 ]; do
  case $1 in
    --bin | --barrier | --min-share | --nodes) [ $# -ge 2 ] || usage ;;
  esac
  case $1 in
    --bin) bin=$2; shift 2 ;;
    --barrier) barrier=$2; shift 2 ;;
    --min-share) share=$2; shift 2 ;;
    --nodes) nodes=$2; shift 2 ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ -n "$bin" ] && [ $# -ge 2 ] && [ $# -le 3 ] || usage
step=$1
work=$2
shard=${3:-${SLURM_ARRAY_TASK_ID:-}}
for number in "$barrier" "$share"; do
  case $number in '' | *[!0-9.]* | *.*.*) usage ;; esac
done
case $nodes in '' | *[!0-9]*) usage ;; esac

LC_ALL=C
export LC_ALL

[ -s "$work/tables" ] || fail "no list of shards in $work/tables"
shards=$(wc -l < "$work/tables")

# table I: the path of shard I's PC table.
table() {
  sed -n "$1p" "$work/tables"
}

# each FORMAT: FORMAT with %d as each shard's number, shard 1 first, one
# word each (the shards' folders are named by the run, without blanks).
each() {
  i=1
  while [ "$i" -le "$shards" ]; do
    # shellcheck disable=SC2059
    printf "$1 " "$i"
    i=$((i + 1))
  done
}

# run LOG OUTPUT PROGRAM ARGUMENT...: runs one of the programs with its
# messages in LOG, shown when it fails, and its standard output in OUTPUT,
# which is written whole or not at all (/dev/null as it is): a step run
# again after a failure starts from what the steps before it left.
run() {
  log=$1
  output=$2
  shift 2
  partial=$output
  [ "$output" = /dev/null ] || partial=$output.part
  if "$@" > "$partial" 2> "$log"; then
    [ "$output" = /dev/null ] || mv -f "$partial" "$output"
  else
    [ "$output" = /dev/null ] || rm -f "$partial"
    cat "$log" >&2
    fail "$(basename "$1") failed${shard:+ on shard $shard} (see $(pwd)/$log)"
  fi
}

# map_of: the map of the points on standard input, on the limits of the
# grid of all, so that every shard's map has the same nodes.  gridmap
# writes its messages to standard output and always ends with status 1:
# its last line says how it went.
map_of() {
  limits=$(plane_limits)
  # Four numbers, one word each.
  # shellcheck disable=SC2086
  "$bin/gridmap" --limits $limits "$nodes" - > gridmap.log || true
  grep -q '^All done\.$' gridmap.log || {
    tr '\b' ' ' < gridmap.log | tail -n 5 >&2
    fail "gridmap failed on shard $shard"
  }
}

# plane_limits: "XMIN XMAX YMIN YMAX", the limits of PC 1 and PC 2 in the
# grid of all: the smallest and largest value of each over every shard, as
# the map of the joined table would find them.  The grid file's
# "limits MIN MAX" lines are its components', component 1 first.
plane_limits() {
  awk '$1 == "limits" && ++component <= 2 { limits = limits (component == 1 ? "" : " ") $2 " " $3 }
       END { if (component < 2) exit 1; print limits }' "$work/grid" ||
    fail "$work/grid: the maps need a grid of two components or more"
}

# segment_names: "NAME:FRAMES,..." for --segments, each shard named after
# its table's file, without the folder and an extension of letters
# (wt.table: wt; shard.007: shard.007), or shardI when that name is not a
# plain word.
segment_names() {
  i=1
  while [ "$i" -le "$shards" ]; do
    name=$(basename "$(table "$i")")
    case ${name##*.} in "$name" | *[!A-Za-z]*) ;; *) name=${name%.*} ;; esac
    case $name in '' | *[!A-Za-z0-9_.-]*) name=shard$i ;; esac
    frames=$(wc -l < "$work/shard.$i/words")
    printf '%s%s:%s' "$([ "$i" -eq 1 ] || echo ,)" "$name" "$frames"
    i=$((i + 1))
  done
}

need_shard() {
  case $shard in '' | *[!0-9]*) usage ;; esac
  [ "$shard" -ge 1 ] && [ "$shard" -le "$shards" ] ||
    fail "no shard $shard: $work/tables lists $shards"
  mkdir -p "$work/shard.$shard"
  cd "$work/shard.$shard"
}

case $step in
  grid-of)
    need_shard
    run grid-of.log grid "$bin/lettercode" --grid-of "$(table "$shard")"
    ;;
  grid)
    cd "$work"
    # shellcheck disable=SC2046
    run grid-of.log grid "$bin/lettercode" --grid-of $(each shard.%d/grid)
    ;;
  words)
    need_shard
    run lettercode.log words "$bin/lettercode" --grid ../grid < "$(table "$shard")"
    run counts.log counts "$bin/wordclusters" --counts words
    # The table's own fields, as they are: awk prints a field it has not
    # computed with unchanged.
    awk '{ print $2, $3 }' "$(table "$shard")" | map_of
    ;;
  dictionary)
    cd "$work"
    # shellcheck disable=SC2046
    run wordclusters.log cwords_clusters "$bin/wordclusters" --barrier "$barrier" \
      --min-share "$share" --counted $(each shard.%d/counts)
    # shellcheck disable=SC2046
    "$bin/gridmap" --sum $(each shard.%d/gridmap.log) > gridmap.log || true
    grep -q '^All done\.$' gridmap.log || {
      tr '\b' ' ' < gridmap.log | tail -n 5 >&2
      fail "gridmap could not add up the shards' maps"
    }
    ;;
  states)
    need_shard
    run wordclusters.log /dev/null "$bin/wordclusters" --dictionary ../cwords_clusters \
      --report states.tsv --ndx states.ndx --trajectory trajectory \
      --transitions transitions words
    # clusterback reads cwords_clusters from the folder it runs in.
    cd "$work"
    run "shard.$shard/clusterback.log" "shard.$shard/members" \
      "$bin/clusterback" --grid grid < "$(table "$shard")"
    ;;
  segments)
    # The states of the joined words are those of the dictionary: the same
    # words, the same options.
    cd "$work"
    # shellcheck disable=SC2002,SC2046
    cat $(each shard.%d/words) |
      run segments.log /dev/null "$bin/wordclusters" --barrier "$barrier" --min-share "$share" \
        --segments "$(segment_names)" --by-segment segments.tsv -
    ;;
  *) usage ;;
esac
