#!/usr/bin/env bash
# Asked for their usage or version, the three programs answer on standard output with status 0
# (sonivert with no display at all: before any window); wrong command lines are refused as before,
# and beside a source and an output "--help" is still a file name.
#   cli_test.sh BIN_DIR VERSION
set -uo pipefail
bin=$1 version=$2 work=$(mktemp -d) failures=0
trap 'rm -rf "$work"' EXIT
# expect STATUS STREAM PATTERN PROGRAM ARGS...: the status, and the first line on the stream.
expect() {
  local status=$1 stream=$2 pattern=$3
  shift 3
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$bin/$@" >"$work/1" 2>"$work/2"
  local got=$? first other=$((3 - stream))
  first=$(tr -d '\r' <"$work/$stream" | grep -v '^$' | head -n 1)
  [ "$got" = "$status" ] && grep -Eq -- "$pattern" <<<"$first" && { [ "$status" != 0 ] || [ ! -s "$work/$other" ]; } ||
    { echo "FAIL: $* -> status $got, [$first] $(cat "$work/$other")" >&2; failures=$((failures + 1)); }
}
for p in sonivert tompg sonivert-decode; do
  expect 0 1 '^[Uu]sage: ' "$p" --help
  expect 0 1 " $version\$" "$p" --version
done
expect 250 1 '^ USAGE: ' tompg -L3 -B64 -M1
expect 251 1 '^ CANNOT_OPEN_INPUT_FILE' tompg --help "$work/o.mp3" -L3 -B64 -M1
expect 64 2 '^usage: ' sonivert-decode
expect 64 2 '^usage: ' sonivert-decode a b c
expect 1 2 '^sonivert-decode: --help: ' sonivert-decode --help "$work/o.wav"
exit $((failures > 0))
