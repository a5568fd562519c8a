#!/bin/sh
# The shard recipe with GNU parallel: the steps of shard-step.sh, each
# shard's in parallel, on this machine or, with --sshloginfile, on the
# machines it lists (which must see WORK, the tables and the programs at
# the same paths, a shared folder).
#
# Usage: run-parallel.sh [--bin DIR] [--jobs N] [--sshloginfile FILE]
#                        [--barrier KT] [--min-share PERCENT] [--nodes N]
#                        WORK TABLE...
#
#   --bin DIR        the programs (default: build/release/bin of this tree)
#   --jobs N         at most N steps at once on each machine (default: one
#                    per core)
#   --sshloginfile FILE  run the steps on the machines of FILE, as GNU
#                    parallel's option of that name reads it
#   --barrier, --min-share, --nodes  as in shard-step.sh
#   WORK             the folder of the run, made when missing
#   TABLE...         the shards' PC tables, in the order of their frames
#
# For instance, a table split into shards of 1,000,000 frames:
#   split -d -a 3 -l 1000000 table shard.
#   examples/shards/run-parallel.sh run shard.*
# leaves in run/ what examples/pipeline.sh makes of the whole table: see
# shard-step.sh for which file holds what.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
bin=$(dirname "$(dirname "$here")")/build/release/bin
step_options=
parallel_options=

usage() {
  echo "usage: $0 [--bin DIR] [--jobs N] [--sshloginfile FILE] [--barrier KT] [--min-share PERCENT] [--nodes N] WORK TABLE..." >&2
  exit 2
}

fail() {
  printf 'run-parallel.sh: %s\n' "$*" >&2
  exit 1
}

# The options' values are numbers or paths without blanks: they go through
# one word each.
while [ $# -gt 0 ]; do
  case $1 in
    --bin | --jobs | --sshloginfile | --barrier | --min-share | --nodes)
      [ $# -ge 2 ] || usage
      case $2 in '' | *[[:space:]]*) usage ;; esac
      ;;
  esac
  case $1 in
    --bin) bin=$2; shift 2 ;;
    --jobs | --sshloginfile) parallel_options="$parallel_options $1 $2"; shift 2 ;;
    --barrier | --min-share | --nodes) step_options="$step_options $1 $2"; shift 2 ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || usage
work=$1
shift

command -v parallel >/dev/null 2>&1 ||
  fail "no GNU parallel: on Debian, apt-get install --no-install-recommends parallel"
[ -d "$bin" ] || fail "no folder $bin: build the programs or give --bin"
bin=$(cd "$bin" && pwd)
mkdir -p "$work"
work=$(cd "$work" && pwd)

# The shards, by absolute path, one a line: every step and every machine
# finds them from the list.
. "$here/tables.sh"
list_tables "$work" "$@"

# The steps' command lines are words joined by blanks, as GNU parallel
# runs them through the shell on every machine.
for path in "$here" "$bin" "$work"; do
  case $path in *[[:space:]]*) fail "$path: a path with blanks" ;; esac
done
step="$here/shard-step.sh --bin $bin$step_options"
shards=$(seq "$#")

# each STEP: STEP for every shard, in parallel; a failure stops the rest.
each() {
  # One word per option.
  # shellcheck disable=SC2086
  parallel --halt now,fail=1 $parallel_options $step "$1" "$work" ::: $shards ||
    fail "step $1 failed (see the messages above and $work/shard.*/*.log)"
}

# all STEP: STEP once, over every shard.
all() {
  # shellcheck disable=SC2086
  $step "$1" "$work" || fail "step $1 failed"
}

each grid-of
all grid
each words
all dictionary
each states
all segments
