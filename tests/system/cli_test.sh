#!/usr/bin/env bash
# Asked for their usage or version, the three programs answer on standard output with status 0
# (sonivert before it needs a display); a wrong command line is still refused as before.
#   cli_test.sh BIN_DIR VERSION
set -uo pipefail
bin=$1 version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
run() { "$@" >"$work/out" 2>"$work/err"; status=$?; }

for p in sonivert tompg sonivert-decode; do
  # No display at all: a program that made a window first would fail here.
  run env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$bin/$p" --help
  [ "$status" = 0 ] || fail "$p --help: status $status"
  grep -qi '^usage: ' "$work/out" || fail "$p --help: no usage on standard output"
  [ -s "$work/err" ] && fail "$p --help wrote to standard error: $(cat "$work/err")"
  run env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$bin/$p" --version
  [ "$status" = 0 ] || fail "$p --version: status $status"
  [ "$(awk 'NR == 1 {print $NF}' "$work/out")" = "$version" ] || fail "$p --version: $(cat "$work/out")"
done

# The refusals of before: tompg's usage error line on its console (standard output) with 250,
# sonivert-decode's usage on standard error with 64. Beside a source and an output, "--help" is
# a file name, as it always was.
run "$bin/tompg" -L3 -B64 -M1
[ "$status" = 250 ] && grep -q '^ USAGE: ' "$work/out" || fail "tompg -L3 -B64 -M1: status $status"
run "$bin/tompg" --help "$work/o.mp3" -L3 -B64 -M1
[ "$status" = 251 ] && grep -q '^ CANNOT_OPEN_INPUT_FILE' "$work/out" || fail "tompg --help OUT: status $status"
for args in "" "a b c"; do
  # shellcheck disable=SC2086
  run "$bin/sonivert-decode" $args
  [ "$status" = 64 ] || fail "sonivert-decode $args: status $status"
  [ -s "$work/out" ] && fail "sonivert-decode $args wrote to standard output"
  grep -q '^usage: ' "$work/err" || fail "sonivert-decode $args: no usage on standard error"
done
run "$bin/sonivert-decode" --help "$work/o.wav"
[ "$status" = 1 ] || fail "sonivert-decode --help OUT: status $status"
[ "$failures" = 0 ] && echo "usage and version on request, refusals unchanged"
exit $((failures > 0))
