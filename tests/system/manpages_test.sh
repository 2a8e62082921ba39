#!/usr/bin/env bash
# The manual pages of the three programs render without a warning from groff or man, carry
# the sections a reader looks for, and give whatis/apropos their one-line description.
#   manpages_test.sh MAN_DIR (the build's man/: the pages with the version filled in)
set -uo pipefail
dir=$1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
for page in sonivert tompg sonivert-decode; do
  src="$dir/$page.1"
  [ -s "$src" ] && [ -s "$src.gz" ] || { fail "$page: no page built"; continue; }
  # Every warning groff has (-ww), and man's own check at an odd width.
  warnings=$(groff -man -ww -z "$src" 2>&1)
  [ -z "$warnings" ] || fail "$page: groff: $warnings"
  warnings=$(MANWIDTH=72 man --warnings -E UTF-8 -l "$src.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: man: $warnings"
  text=$(MANWIDTH=200 man -E UTF-8 -l "$src.gz" 2>/dev/null)
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLE; do
    grep -qx "$section" <<<"$text" || fail "$page: no $section section"
  done
  grep -q '@[A-Z_]*@' "$src" && fail "$page: a placeholder was not filled in"
  lexgrog "$src" | grep -q ": \"$page - " || fail "$page: lexgrog finds no NAME line for $page"
done
[ "$failures" = 0 ] && echo "three pages render cleanly"
exit $((failures > 0))
