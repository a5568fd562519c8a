#!/bin/sh
# The programs of two builds for different machines give the same bytes:
# the example pipeline (all six programs) on the bundled sample, and
# lettercode and gridmap on generated inputs of several read blocks, on 1,
# 2 and 7 threads. The second build's programs run under an emulator.
#
# Usage: tests/cross_compare.sh HOST_BIN TARGET_BIN EMULATOR [ARGS...]
#   HOST_BIN    this machine's programs (and generate_inputs)
#   TARGET_BIN  the other machine's programs
#   EMULATOR    the command that runs them, such as
#               qemu-aarch64-static -L /usr/aarch64-linux-gnu
set -eu

[ $# -ge 3 ] || { echo "usage: $0 HOST_BIN TARGET_BIN EMULATOR [ARGS...]" >&2; exit 2; }
host=$(cd "$1" && pwd)
target=$(cd "$2" && pwd)
shift 2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

# The target's programs behind scripts of the same names, which run them
# under the emulator with the name they were called by.
mkdir "$work/emulated"
for program in pctable lettercode wordclusters clusterback gridmap gridplot; do
  {
    echo '#!/bin/sh'
    printf 'exec'
    for word in "$@"; do printf " '%s'" "$word"; done
    printf " -0 \"\$0\" '%s' \"\$@\"\n" "$target/$program"
  } > "$work/emulated/$program"
  chmod +x "$work/emulated/$program"
done

# One build's run of a command in $work/run (so that both see the same
# paths), kept in $work/NAME: its files, standard output and error, and
# exit status.
run() {
  name=$1
  shift
  rm -rf "$work/run"
  mkdir "$work/run"
  status=0
  (cd "$work/run" && "$@" > stdout 2> stderr) || status=$?
  echo "$status" > "$work/run/status"
  mv "$work/run" "$work/$name"
}

# Runs the command with each build's programs ($bin) and compares the lot.
same_bytes() {
  what=$1
  shift
  export bin
  bin=$host
  run host "$@"
  [ -s "$work/host/stdout" ] ||
    { cat "$work/host/stderr" >&2; fail "$what: no output from this machine's build"; }
  bin=$work/emulated
  run target "$@"
  diff -r "$work/host" "$work/target" > "$work/differences" ||
    { head -n 40 "$work/differences" >&2; fail "$what: the builds differ"; }
  rm -rf "$work/host" "$work/target"
}

same_bytes "the example pipeline" \
  sh -c '"$0" --bin "$bin" --no-plot --no-install out' "$source_dir/examples/pipeline.sh"

"$host/generate_inputs" table 200000 10 5 > "$work/table"
"$host/generate_inputs" points 1000000 3 5 > "$work/points"
for threads in 1 2 7; do
  same_bytes "lettercode on $threads threads" \
    sh -c 'OMP_NUM_THREADS=$1 "$bin/lettercode" < "$0"' "$work/table" "$threads"
  same_bytes "gridmap on $threads threads" \
    sh -c 'OMP_NUM_THREADS=$1 "$bin/gridmap" 1001 "$0"' "$work/points" "$threads"
done
echo "cross_compare: the same bytes from both builds"
