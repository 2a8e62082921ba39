#!/usr/bin/env bash
# tompg and sonivert-decode replace what they are told to write, as cp and sox do: three runs on one
# output leave no Trash and the output of one run. With -n (--no-clobber) a second run keeps the
# first output, says why and fails.   replace_test.sh BIN_DIR MP3_FILE
set -uo pipefail
bin=$1 mp3=$2 work=$(mktemp -d) failures=0 && trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work/data HOME=$work/home
mkdir "$XDG_DATA_HOME" "$HOME" && cd "$work" && "$bin/sonivert-decode" "$mp3" in.wav || exit 1
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# Both programs once on NAME (tompg's success status is its frame count: a failure is its line).
run() {
  "$bin/sonivert-decode" "${@:2}" "$mp3" "$1.wav" 2>>err; decoded=$?
  "$bin/tompg" "${@:2}" in.wav "$1.mp3" -L2 -B64 -M1 >>screen 2>>err; encoded=$?
}
for round in 1 2 3; do run out && [ $round = 1 ] && cp out.wav one.wav && cp out.mp3 one.mp3; done
[ ! -s err ] && cmp -s one.wav out.wav && cmp -s one.mp3 out.mp3 || fail "three runs: $(cat err)"
[ -z "$(find data home -mindepth 1)$(find . -name '.Trash*')" ] || fail "a Trash was made: $(find data home)"
for flag in -n --no-clobber; do
  rm -f kept.* err screen && run kept "$flag" && [ ! -s err ] && cp kept.wav first.wav && cp kept.mp3 first.mp3 &&
    run kept "$flag"
  [ $decoded = 8 ] && grep -q 'kept (--no-clobber)' err || fail "$flag: $(cat err)"
  [ $encoded != 0 ] && grep -q 'CANNOT CREATE OUTPUT FILE: file exists, kept (-n)' screen || fail "$flag: tompg"
  cmp -s first.wav kept.wav && cmp -s first.mp3 kept.mp3 || fail "$flag: the first output was replaced"
done
exit $((failures > 0))
