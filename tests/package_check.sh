#!/bin/sh
# What `cmake --install` and the Debian package install: the programs
# and their manual pages, nothing else, and in the package also its
# documentation (copyright, changelog, README, the example workflow); the
# package's dependencies; lintian finds no error in it; and the installed
# programs run.
#
# Usage: tests/package_check.sh [BUILD_DIR]   (default build/release, built)
set -eu

build=$(cd "${1:-build/release}" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

cat > "$work/expected" <<'EOF'
bin/clusterback
bin/gridmap
bin/gridplot
bin/lettercode
bin/pctable
bin/wordclusters
share/man/man1/clusterback.1.gz
share/man/man1/gridmap.1.gz
share/man/man1/gridplot.1.gz
share/man/man1/lettercode.1.gz
share/man/man1/pctable.1.gz
share/man/man1/wordclusters.1.gz
share/man/man5/pcgrid-grid.5.gz
EOF

# The files under a staging root, relative to PREFIX in it.
files_under() {
  (cd "$1" && find . ! -type d | sed 's|^\./||' | sort)
}

# The installed programs work: lettercode's words of a small table, and the
# other two at least start.
check_programs() {
  printf '1 0 0\n2 0.5 1.0\n3 1.0 0.5\n' > "$work/table"
  words=$("$1/lettercode" < "$work/table" 2> /dev/null | tr '\n' ' ')
  [ "$words" = "AA CF FC " ] || fail "$1/lettercode wrote '$words'"
  (cd "$work" && printf 'FC 7\n' > cwords_clusters &&
    "$1/clusterback" < table 2> /dev/null | grep -q '^         3    7 ') ||
    fail "$1/clusterback did not report label 3 in cluster 7"
  "$1/gridmap" > "$work/usage" || true
  grep -q '^Usage : gridmap GRID \[GRID_Y\] filename$' "$work/usage" ||
    fail "$1/gridmap did not print its usage line"
  table=$(printf 'x,y\n0.5,1\n' | "$1/pctable" 2> /dev/null)
  [ "$table" = "1 0.5 1" ] || fail "$1/pctable wrote '$table'"
  [ "$(printf 'AB\nAB\nAC\nAC\nAB\n' | "$1/wordclusters" 2> /dev/null | tr '\n' ' ')" = "AB 1 AC 1 " ] ||
    fail "$1/wordclusters did not put AB and AC in cluster 1"
  "$1/gridplot" --help | grep -q '^Usage: gridplot ' || fail "$1/gridplot did not print its usage"
}

# The man pages are compressed roff that man can read.
check_man_pages() {
  for page in lettercode clusterback gridmap pctable wordclusters gridplot; do
    gzip -dc "$1/$page.1.gz" | grep -q "^\.TH $(echo $page | tr a-z A-Z) 1 " ||
      fail "$1/$page.1.gz is not the $page page"
  done
}

# cmake --install with a prefix of one's own.
cmake --install "$build" --prefix "$work/prefix" > /dev/null
files_under "$work/prefix" | diff -u "$work/expected" - ||
  fail "cmake --install installs other files than the programs and manual pages"
check_programs "$work/prefix/bin"
check_man_pages "$work/prefix/share/man/man1"
echo "cmake --install: programs and manual pages"

# The Debian package, built from the same tree and unpacked into a staging root.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" > cpack.log 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
set -- "$work"/package/pcgrid_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "cpack made no single pcgrid_*.deb"
deb=$1

[ "$(dpkg-deb -f "$deb" Package)" = pcgrid ] || fail "the package is not called pcgrid"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "the package names no maintainer"
[ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "the package has no description"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libgomp1 libstdc++6; do
  echo "$depends" | tr ',' '\n' | grep -q "^ *$library\( \|$\)" ||
    fail "the package does not depend on $library: $depends"
done

[ "$(dpkg-deb -f "$deb" Recommends)" = gnuplot-nox ] ||
  fail "the package does not recommend gnuplot-nox"

dpkg -x "$deb" "$work/root"
{
  sed 's|^|usr/|' "$work/expected"
  printf 'usr/share/doc/pcgrid/%s\n' README.md changelog.Debian.gz copyright examples/pipeline.sh \
    examples/sample-landscape.png examples/sample-table.txt.gz
} | sort > "$work/expected_deb"
files_under "$work/root" | diff -u "$work/expected_deb" - ||
  fail "the package holds other files than the programs and manual pages"
check_programs "$work/root/usr/bin"
check_man_pages "$work/root/usr/share/man/man1"

# The documentation: the changelog's latest entry is this version, and the
# copyright file holds LICENSE's holders and text in Debian's format.
doc=$work/root/usr/share/doc/pcgrid
version=$(dpkg-deb -f "$deb" Version)
gzip -dc "$doc/changelog.Debian.gz" | head -n 1 | grep -q "^pcgrid ($version) " ||
  fail "the changelog's latest entry is not version $version"
license=$source/LICENSE
holders=$(sed -n 's/^Copyright (c) //p' "$license")
grep -qx "Copyright: $holders" "$doc/copyright" || fail "copyright does not name $holders"
tail -n +5 "$license" > "$work/license_text"
sed -n '/^License: Expat$/,$p' "$doc/copyright" | tail -n +2 | sed 's/^ //; s/^\.$//' |
  diff -u "$work/license_text" - || fail "copyright does not hold the text of LICENSE"

if command -v lintian > /dev/null 2>&1; then
  status=0
  lintian --fail-on error "$deb" > "$work/lintian.log" 2>&1 || status=$?
  grep -v '^running with root privileges' "$work/lintian.log" || true
  [ "$status" -eq 0 ] || fail "lintian reports errors in $(basename "$deb")"
  lint="lintian: no errors"
else
  lint="lintian is not installed: not run"
fi
echo "$(basename "$deb"): programs, manual pages and documentation; Depends: $depends; $lint"
