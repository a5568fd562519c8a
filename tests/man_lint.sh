#!/bin/sh
# The manual pages render without a single warning, as `man -l` shows them.
# Skipped (status 77) when neither groff nor mandoc is installed.
#
# Usage: tests/man_lint.sh PAGE...
set -eu

linters=0
status=0
for page in "$@"; do
  if command -v groff >/dev/null 2>&1; then
    linters=1
    warnings=$(groff -ww -b -z -man -Tutf8 "$page" 2>&1) || status=1
    if [ -n "$warnings" ]; then
      printf '%s\n' "$warnings"
      status=1
    fi
  fi
  if command -v mandoc >/dev/null 2>&1; then
    linters=1
    mandoc -T lint -W warning "$page" || status=1
  fi
done
if [ "$linters" -eq 0 ]; then
  echo "neither groff nor mandoc is installed: not checked"
  exit 77
fi
[ "$status" -eq 0 ] && echo "manual pages: no warnings"
exit "$status"
