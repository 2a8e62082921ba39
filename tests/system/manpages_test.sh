#!/usr/bin/env bash
# The three manual pages render without a warning (every groff warning on), carry the sections a
# reader looks for, and give whatis their one-line description.
#   manpages_test.sh MAN_DIR (the build's man/: the pages with the version filled in)
set -uo pipefail
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
for page in sonivert tompg sonivert-decode; do
  src="$1/$page.1"
  warnings=$(groff -man -ww -z "$src" 2>&1) && [ -z "$warnings" ] || fail "$page: $warnings"
  text=$(MANWIDTH=200 man -l "$src.gz" 2>/dev/null)
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLE; do
    grep -qx "$section" <<<"$text" || fail "$page: no $section section"
  done
  grep -q '@[A-Z_]*@' "$src" && fail "$page: a placeholder was not filled in"
  lexgrog "$src" | grep -q ": \"$page - " || fail "$page: no whatis line"
done
exit $((failures > 0))
