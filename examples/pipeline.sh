#!/bin/sh
# The whole workflow on the bundled sample, from a PC table to a picture of
# its landscape:
#
#   table --lettercode--> words --wordclusters--> cwords_clusters (the states),
#                                                 states.tsv (their report),
#                                                 states.ndx (their frames)
#   table + cwords_clusters --clusterback--> members
#   PC 1 and PC 2 --gridmap--> grid.matrix, grid_log.matrix
#   gridmap's report + grid.matrix --gridplot--> landscape.png (free energy, states labelled)
#
# Usage: examples/pipeline.sh [--bin DIR] [--barrier KT] [--min-share PERCENT]
#                             [--no-plot] [--no-install] [OUTPUT_DIR]
#
#   --bin DIR        take the programs from DIR instead of build/release/bin
#                    (built with the Release preset when they are missing;
#                    as root on Debian, the build's prerequisites are
#                    installed first when they are missing)
#   --barrier KT     basins separated by less than this free-energy barrier
#                    become one state (default 1)
#   --min-share PERCENT  a basin becomes a state when it holds at least
#                    this share of the frames (default 1), as in wordclusters
#   --no-plot        do not draw landscape.png
#   --no-install     install nothing: build only if the prerequisites are
#                    there, draw only if gnuplot is
#   OUTPUT_DIR       where every file goes (default example-output/ at the
#                    top of the source tree)
#
# The sample, examples/sample-table.txt.gz, is 100,000 frames of a simulated
# trajectory in a potential of five wells, projected on four components:
#   build/release/bin/generate_inputs table 100000 4 7 | gzip -9n
# and examples/sample-landscape.png is the landscape.png that this script
# draws of it.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
sample=$here/sample-table.txt.gz

bin=
barrier=1
share=1
plot=yes
install=yes
out=$root/example-output
grid=100

usage() {
  echo "usage: $0 [--bin DIR] [--barrier KT] [--min-share PERCENT] [--no-plot] [--no-install] [OUTPUT_DIR]" >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case $1 in
    --bin | --barrier | --min-share | --share) [ $# -ge 2 ] || usage ;;
  esac
  case $1 in
    --bin) bin=$2; shift 2 ;;
    --barrier) barrier=$2; shift 2 ;;
    --min-share | --share) share=$2; shift 2 ;;  # --share: the older name
    --no-plot) plot=no; shift ;;
    --no-install) install=no; shift ;;
    -*) usage ;;
    *) out=$1; shift ;;
  esac
done
for number in "$barrier" "$share"; do
  case $number in
    '' | *[!0-9.]* | *.*.*) usage ;;
  esac
done

# Sorting and counting in the C locale: the same order on every machine.
LC_ALL=C
export LC_ALL

say() {
  printf '%s\n' "$*"
}

fail() {
  printf 'pipeline.sh: %s\n' "$*" >&2
  exit 1
}

programs="pctable lettercode wordclusters clusterback gridmap gridplot"
prerequisites="g++ cmake ninja-build libgtest-dev libbenchmark-dev"

# apt_install LOG PACKAGE...: installs the packages without their
# recommendations, updating the package lists if the first try fails.
apt_install() {
  log=$1
  shift
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" > "$log" 2>&1 ||
    { apt-get update -q >> "$log" 2>&1 &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >> "$log" 2>&1; }
}

can_install() {
  [ "$install" = yes ] && [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1
}

missing_prerequisites() {
  for package in $prerequisites; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      printf '%s ' "$package"
  done
}

# 1. The programs: build them if they are not there yet; on a Debian
# machine, as root, install what the build needs first.
if [ -z "$bin" ]; then
  bin=$root/build/release/bin
  built=yes
  for program in $programs; do
    [ -x "$bin/$program" ] || built=no
  done
  if [ "$built" = no ]; then
    if can_install && command -v dpkg-query >/dev/null 2>&1; then
      missing=$(missing_prerequisites)
      if [ -n "$missing" ]; then
        say "Installing the build's prerequisites: $missing..."
        mkdir -p "$root/build"
        # One word per package.
        # shellcheck disable=SC2086
        apt_install "$root/build/prerequisites.log" $missing ||
          fail "could not install $missing(see $root/build/prerequisites.log)"
      fi
    fi
    say "Building the programs (Release preset) ..."
    # One word per target.
    # shellcheck disable=SC2086
    (cd "$root" && cmake --preset default >/dev/null &&
      cmake --build --preset default --target $programs) ||
      fail "the build failed; on Debian it needs: apt-get install --no-install-recommends $prerequisites"
  fi
fi
bin=$(cd "$bin" && pwd)
for program in $programs; do
  [ -x "$bin/$program" ] || fail "no program $bin/$program"
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$out"

# 2. The PC table: a label and four components per line, checked and
# written whole by pctable.
gzip -dc "$sample" | "$bin/pctable" --label-column 1 -o table 2> pctable.log || {
  cat pctable.log >&2
  fail "pctable failed"
}

# 3. One word per frame.
"$bin/lettercode" < table > words 2> lettercode.log || {
  cat lettercode.log >&2
  fail "lettercode failed"
}
vectors=$(sed -n 's/^Read \([0-9]*\) vectors (\([0-9]*\)-dimensional)\.$/\1/p' lettercode.log)
dimension=$(sed -n 's/^Read \([0-9]*\) vectors (\([0-9]*\)-dimensional)\.$/\2/p' lettercode.log)
intervals=$(sed -n 's/^Grid along each dimension set to \([0-9]*\)\.$/\1/p' lettercode.log)

# 4. The dictionary: the states of the words, basins of their population
# separated by barriers of at least $barrier kT that hold $share% of the
# frames or more; every cell of a state is a word of its cluster. Beside it
# the report of the states (shares and free energies with their errors over
# five blocks of the trajectory, representative frames, visits and
# lifetimes) and their frames as a GROMACS index file.
"$bin/wordclusters" --barrier "$barrier" --min-share "$share" --report states.tsv --ndx states.ndx \
  --blocks 5 words > cwords_clusters 2> wordclusters.log || {
  cat wordclusters.log >&2
  fail "wordclusters failed"
}
clusters=$(awk 'END { print $2 + 0 }' cwords_clusters)
[ "$clusters" -gt 0 ] || fail "no state holds $share% of the frames; try a smaller --min-share"

# 5. The members of every cluster: label, cluster and components.
"$bin/clusterback" < table > members 2> clusterback.log || {
  cat clusterback.log >&2
  fail "clusterback failed"
}

# 6. The matrices over the first two components. gridmap exits with status 1
# even when it succeeds, so its last message tells how it went.
awk '{ print $2, $3 }' table > points
"$bin/gridmap" "$grid" points > gridmap.log || true
grep -q '^All done\.$' gridmap.log || {
  tr '\b' ' ' < gridmap.log | tail -n 5 >&2
  fail "gridmap failed"
}
# "\ton x : XMIN to XMAX" and "\ton y : YMIN to YMAX"
xmin=$(awk '$1 == "on" && $2 == "x" { print $4 }' gridmap.log)
xmax=$(awk '$1 == "on" && $2 == "x" { print $6 }' gridmap.log)
ymin=$(awk '$1 == "on" && $2 == "y" { print $4 }' gridmap.log)
ymax=$(awk '$1 == "on" && $2 == "y" { print $6 }' gridmap.log)

# 7. The picture: gridplot reads gridmap's report and grid.matrix, and has
# gnuplot draw the free energy -ln(frames / most frames) of every node in kT,
# dark where it is low, nodes without a frame left blank, with contour lines
# every 1 kT and each state's number where most of its members lie.
have_gnuplot() {
  command -v gnuplot >/dev/null 2>&1
}

picture=
if [ "$plot" = yes ]; then
  if ! have_gnuplot && can_install; then
    say "Installing gnuplot-nox for the picture ..."
    apt_install gnuplot-install.log gnuplot-nox ||
      say "Could not install gnuplot-nox (see $out/gnuplot-install.log)."
  fi
  if have_gnuplot; then
    rm -f landscape.png
    "$bin/gridplot" --title "Sample trajectory: free energy of PC 1 and PC 2, $grid x $grid grid" \
      --contours 1 --states members gridmap.log landscape.png ||
      fail "gridplot could not draw landscape.png"
    picture=landscape.png
  fi
fi

# 8. What was done.
say ""
say "PC table:   $vectors vectors, $dimension-dimensional (letter code of $intervals intervals per dimension)"
say "States:     $clusters basins separated by $barrier kT or more, each with $share% of the frames or more:"
# A cluster's first line in cwords_clusters is its peak, its most populated word.
awk -v total="$vectors" \
  'NR == FNR { if (!($2 in peak)) peak[$2] = $1; cells[$2]++; next }
   { frames[$2]++; members++ }
   END {
     for (c = 1; c in peak; c++)
       printf "            state %d  %6d frames (%4.1f%%) in %5d cells, peak %s\n",
         c, frames[c], 100 * frames[c] / total, cells[c], peak[c]
     printf "            %d of the %d frames in states (members)\n", members, total
   }' cwords_clusters members
# The sample's potential has five wells; the basins of two of them may meet
# below the barrier on this grid.
if [ "$clusters" -lt 5 ]; then
  say "            The sample's potential has five wells: on this grid, wells that meet below"
  say "            $barrier kT form one state, and wells with less than $share% of the frames are none,"
  say "            so they make $clusters states ('wordclusters --scan words' shows other barriers)."
fi
say "Report:     states.tsv, errors over 5 blocks of the trajectory, lifetimes in frames:"
awk -F '\t' '{ printf "            %-5s %6s %7s %9s %6s %6s %-5s %14s %6s %8s\n",
                $1, $2, $3, $4, $5, $6, $7, $8, $9, $10 }' states.tsv
say "Grid map:   $grid x $grid nodes, PC 1 from $xmin to $xmax, PC 2 from $ymin to $ymax"
if [ -z "$picture" ] && [ "$plot" = yes ]; then
  say "Picture:    skipped: gnuplot is not installed; install it (on Debian: sudo apt-get install --no-install-recommends gnuplot-nox) and run again"
fi
say "Files in $out:"
say "  table            the PC table (label and components)"
say "  words            lettercode's word of every frame"
say "  cwords_clusters  the dictionary: every word of a state and its number"
say "  states.tsv       the report of the states (see man wordclusters)"
say "  states.ndx       each state's frames and the representatives, a GROMACS index file"
say "  members          clusterback's members: label, cluster, components"
say "  points           PC 1 and PC 2 of every frame"
say "  grid.matrix      gridmap's frames per node (rows: PC 1, columns: PC 2)"
say "  grid_log.matrix  their natural logarithms"
[ -z "$picture" ] || say "  $picture    the free energy of every node of grid.matrix, in kT"
say "  *.log            what each program reported"
