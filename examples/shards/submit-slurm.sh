#!/bin/sh
# The shard recipe on a Slurm cluster: each step of shard-step.sh one job,
# the steps done per shard as job arrays (task I does shard I), each job
# waiting for the steps it reads (--dependency=afterok), and cancelled
# when one of them fails.  WORK, the tables and the programs must be on a
# folder that every node sees at the same path.
#
# Usage: submit-slurm.sh [--bin DIR] [--wait] [--sbatch OPTION]...
#                        [--barrier KT] [--min-share PERCENT] [--nodes N]
#                        WORK TABLE...
#
#   --bin DIR        the programs (default: build/release/bin of this tree)
#   --wait           wait until every job has ended, and exit 0 only when
#                    every one completed
#   --sbatch OPTION  pass OPTION to every sbatch, one word: --sbatch
#                    --partition=long --sbatch --time=2:00:00
#   --barrier, --min-share, --nodes  as in shard-step.sh
#   WORK             the folder of the run, made when missing; the jobs'
#                    output goes to WORK/slurm/
#   TABLE...         the shards' PC tables, in the order of their frames
#
# It prints each step's job number.  To try it on one machine,
# local-slurm.sh starts a cluster of one node.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
bin=$(dirname "$(dirname "$here")")/build/release/bin
wait=no
sbatch_options=
step_options=

usage() {
  echo "usage: $0 [--bin DIR] [--wait] [--sbatch OPTION]... [--barrier KT] [--min-share PERCENT] [--nodes N] WORK TABLE..." >&2
  exit 2
}

fail() {
  printf 'submit-slurm.sh: %s\n' "$*" >&2
  exit 1
}

# The options' values are numbers, paths or sbatch options without blanks:
# they go through one word each.
while [ $# -gt 0 ]; do
  case $1 in
    --bin | --sbatch | --barrier | --min-share | --nodes)
      [ $# -ge 2 ] || usage
      case $2 in '' | *[[:space:]]*) usage ;; esac
      ;;
  esac
  case $1 in
    --bin) bin=$2; shift 2 ;;
    --wait) wait=yes; shift ;;
    --sbatch) sbatch_options="$sbatch_options $2"; shift 2 ;;
    --barrier | --min-share | --nodes) step_options="$step_options $1 $2"; shift 2 ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || usage
work=$1
shift

command -v sbatch >/dev/null 2>&1 || fail "no sbatch: this is not a Slurm machine"
[ -d "$bin" ] || fail "no folder $bin: build the programs or give --bin"
bin=$(cd "$bin" && pwd)
mkdir -p "$work/slurm"
work=$(cd "$work" && pwd)
for path in "$here" "$bin" "$work"; do
  case $path in *[[:space:]]*) fail "$path: a path with blanks" ;; esac
done

# The shards, by absolute path, one a line: every step and every machine
# finds them from the list.
. "$here/tables.sh"
list_tables "$work" "$@"
shards=$#

# submit STEP AFTER [--array=1-K]: submits STEP to start when the jobs
# AFTER (colon-separated, or empty) have completed, and prints its number.
submit() {
  name=$1
  after=$2
  shift 2
  output=$work/slurm/$name-%j.out
  [ $# -eq 0 ] || output=$work/slurm/$name-%A_%a.out
  # One word per option.
  # shellcheck disable=SC2086
  id=$(sbatch --parsable --job-name="pcgrid-$name" --chdir="$work" --output="$output" \
    --kill-on-invalid-dep=yes ${after:+--dependency=afterok:$after} "$@" $sbatch_options \
    "$here/shard-step.sh" --bin "$bin" $step_options "$name" "$work") ||
    fail "sbatch refused step $name"
  printf '%s\n' "${id%%;*}"
}

array=--array=1-$shards
grid_of=$(submit grid-of '' "$array")
grid=$(submit grid "$grid_of")
words=$(submit words "$grid" "$array")
dictionary=$(submit dictionary "$words")
states=$(submit states "$dictionary" "$array")
segments=$(submit segments "$words")
printf 'grid-of %s\ngrid %s\nwords %s\ndictionary %s\nstates %s\nsegments %s\n' \
  "$grid_of" "$grid" "$words" "$dictionary" "$states" "$segments"
[ "$wait" = yes ] || exit 0

# show_jobs ID...: "JobId=N [ArrayJobId=A ArrayTaskId=I] JobName=NAME ...
# JobState=STATE ...", a line for each job and array task; "UNKNOWN" for a
# job that the controller does not know (or a controller that does not
# answer).
show_jobs() {
  for id in "$@"; do
    scontrol -o show job "$id" 2>/dev/null || echo UNKNOWN
  done
}

# states ID...: the state of each job and array task, one a line.
states() {
  show_jobs "$@" | sed -e 's/.* JobState=\([A-Z_]*\) .*/\1/'
}

# A failed job cancels the jobs that wait for it: the run is over when the
# last two steps are.
while states "$states" "$segments" | grep -q -e PENDING -e RUNNING -e CONFIGURING \
  -e COMPLETING -e SUSPENDED -e REQUEUE -e RESIZING -e SIGNALING -e STAGE_OUT; do
  sleep 2
done
if states "$states" "$segments" | grep -qv '^COMPLETED$'; then
  show_jobs "$grid_of" "$grid" "$words" "$dictionary" "$states" "$segments" |
    sed -n -e 's/^JobId=[^ ]* ArrayJobId=\([^ ]*\) ArrayTaskId=\([^ ]*\) JobName=\([^ ]*\) .* JobState=\([A-Z_]*\) .*/\3 \1_\2 \4/p' \
      -e 's/^JobId=\([^ ]*\) JobName=\([^ ]*\) .* JobState=\([A-Z_]*\) .*/\2 \1 \3/p' |
    grep -v ' COMPLETED$' >&2 || true
  fail "a job did not complete (see $work/slurm/ and $work/shard.*/*.log)"
fi
