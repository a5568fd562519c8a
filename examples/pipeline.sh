#!/bin/sh
# The whole workflow on the bundled sample, from a PC table to a picture of
# its landscape:
#
#   table --lettercode--> words --sort|uniq -c--> cwords_clusters
#   table + cwords_clusters --clusterback--> members
#   PC 1 and PC 2 --gridmap--> grid.matrix, grid_log.matrix --gnuplot--> landscape.png
#
# Usage: examples/pipeline.sh [--bin DIR] [--share PERCENT] [--no-plot]
#                             [--no-install] [OUTPUT_DIR]
#
#   --bin DIR        take the programs from DIR instead of build/release/bin
#                    (built with the Release preset when they are missing)
#   --share PERCENT  a word becomes a cluster when it holds at least this
#                    share of the frames (default 0.05)
#   --no-plot        do not draw landscape.png
#   --no-install     draw it only if gnuplot is already installed
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
share=0.05
plot=yes
install=yes
out=$root/example-output
grid=100

usage() {
  echo "usage: $0 [--bin DIR] [--share PERCENT] [--no-plot] [--no-install] [OUTPUT_DIR]" >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case $1 in
    --bin | --share) [ $# -ge 2 ] || usage ;;
  esac
  case $1 in
    --bin) bin=$2; shift 2 ;;
    --share) share=$2; shift 2 ;;
    --no-plot) plot=no; shift ;;
    --no-install) install=no; shift ;;
    -*) usage ;;
    *) out=$1; shift ;;
  esac
done
case $share in
  '' | *[!0-9.]* | *.*.*) usage ;;
esac

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

# 1. The programs: build them if they are not there yet.
if [ -z "$bin" ]; then
  bin=$root/build/release/bin
  if [ ! -x "$bin/lettercode" ] || [ ! -x "$bin/clusterback" ] || [ ! -x "$bin/gridmap" ] ||
    [ ! -x "$bin/pctable" ]; then
    say "Building the programs (Release preset) ..."
    (cd "$root" && cmake --preset default >/dev/null &&
      cmake --build --preset default --target lettercode clusterback gridmap pctable) ||
      fail "the build failed; on Debian it needs: apt-get install g++ cmake ninja-build libgtest-dev libbenchmark-dev"
  fi
fi
bin=$(cd "$bin" && pwd)
for program in lettercode clusterback gridmap pctable; do
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

# 4. The dictionary: count the frames of every word, most populated first,
# and number the words that hold at least the given share of the frames.
sort words | uniq -c | sort -k1,1nr -k2,2 > word_counts
awk -v share="$share" -v total="$vectors" \
  '$1 * 100 >= share * total { print $2, NR }' word_counts > cwords_clusters
clusters=$(wc -l < cwords_clusters)
[ "$clusters" -gt 0 ] || fail "no word holds $share% of the frames; try a smaller --share"
# The last cluster is the least populated: line $clusters of word_counts.
least=$(awk -v c="$clusters" 'NR == c { print $1 }' word_counts)

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

# 7. The picture: row j of grid_log.matrix is x node j, from xmin to xmax,
# column k is y node k, from ymin to ymax. gnuplot's matrix mode numbers
# columns ($1) and rows ($2), so a row index is an x and a column index a y.
# Nodes with no point, or a single one, hold 0 and are left white; the
# colours run from pale blue for a few frames to red for the most.
draw() {
  gnuplot <<EOF
set terminal pngcairo size 800,640 font "DejaVu Sans,11"
set output "landscape.png"
set title "Sample trajectory: ln(frames) per node, $grid x $grid grid"
set xlabel "PC 1"
set ylabel "PC 2"
set cblabel "ln(frames)"
set xrange [$xmin:$xmax]
set yrange [$ymin:$ymax]
set size ratio -1
set tics out
set palette defined (0 "white", 0.5 "#f7fbff", 1.5 "#c6dbef", 2.5 "#6baed6", 3.5 "#2171b5", 4.2 "#41ab5d", 4.8 "#fdae61", 5.4 "#d7191c")
set cbrange [0:*]
dx = ($xmax - ($xmin)) / ($grid - 1)
dy = ($ymax - ($ymin)) / ($grid - 1)
plot "grid_log.matrix" matrix using ($xmin + \$2 * dx):($ymin + \$1 * dy):3 with image notitle
EOF
}

have_gnuplot() {
  command -v gnuplot >/dev/null 2>&1
}

picture=
if [ "$plot" = yes ]; then
  if ! have_gnuplot && [ "$install" = yes ] && [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    say "Installing gnuplot-nox for the picture ..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q gnuplot-nox > gnuplot-install.log 2>&1 ||
      { apt-get update -q >> gnuplot-install.log 2>&1 &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q gnuplot-nox >> gnuplot-install.log 2>&1; } ||
      say "Could not install gnuplot-nox (see $out/gnuplot-install.log)."
  fi
  if have_gnuplot; then
    rm -f landscape.png
    draw || fail "gnuplot could not draw landscape.png"
    picture=landscape.png
  fi
fi

# 8. What was done.
say ""
say "PC table:   $vectors vectors, $dimension-dimensional (letter code of $intervals intervals per dimension)"
say "Clusters:   $clusters words holding at least $share% of the frames ($least to $(head -n 1 word_counts | awk '{ print $1 }') frames each):"
# Clusters are numbered by population: the first ten are the largest.
awk 'NR == FNR { word[$2] = $1; next }
     { frames[$2]++; members++ }
     END {
       for (c = 1; c <= 10 && c in word; c++)
         printf "            cluster %2d  %s  %5d frames\n", c, word[c], frames[c]
       if (c in word) print "            ... (see cwords_clusters and word_counts)"
       printf "            %d frames in clusters (members)\n", members
     }' cwords_clusters members
say "Grid map:   $grid x $grid nodes, PC 1 from $xmin to $xmax, PC 2 from $ymin to $ymax"
if [ -z "$picture" ] && [ "$plot" = yes ]; then
  say "Picture:    skipped: gnuplot is not installed; install it (on Debian: sudo apt-get install gnuplot-nox) and run again"
fi
say "Files in $out:"
say "  table            the PC table (label and components)"
say "  words            lettercode's word of every frame"
say "  word_counts      frames per word, most populated first"
say "  cwords_clusters  the dictionary: word and cluster number"
say "  members          clusterback's members: label, cluster, components"
say "  points           PC 1 and PC 2 of every frame"
say "  grid.matrix      gridmap's frames per node (rows: PC 1, columns: PC 2)"
say "  grid_log.matrix  their natural logarithms"
[ -z "$picture" ] || say "  $picture    the heat map of grid_log.matrix"
say "  *.log            what each program reported"
