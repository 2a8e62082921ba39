#!/usr/bin/env bash
# The README's batch commands on a small folder tree: every WAV file encoded by tompg and every
# MP3 file decoded by sonivert-decode, one process per core, beside their sources. A file that
# fails is named on standard error and ends the batch with xargs' status 123; no temporary file
# is left anywhere.
#   batch_test.sh BIN_DIR
set -uo pipefail
export PATH="$1:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work" || exit 1
mkdir -p "music/a/b c"
sox -q -n -r 44100 -c 2 -b 16 music/one.wav synth 1.5 sine 440 || fail "sox"
sox -q -n -r 22050 -c 1 -b 16 "music/a/b c/two words.wav" synth 2 sine 660
sox -q -n -r 48000 -c 2 -b 24 music/a/THREE.WAV synth 1 sine 330
echo "not a sound" >"music/a/b c/broken.wav"

find music -iname '*.wav' -print0 | xargs -0 -n1 -P"$(nproc)" sh -c '
  err=$(tompg "$1" "${1%.*}.mp3" -L3 -B64 -M1 2>&1 >/dev/null)
  [ -z "$err" ] || { echo "$err" >&2; exit 1; }' sh 2>encode.err
status=$?
[ "$status" = 123 ] || fail "encode batch: xargs status $status, not 123 for one failed file"
grep -q "^tompg: UNRECOGNIZED PCM FILE FORMAT.*: music/a/b c/broken.wav\$" encode.err ||
  fail "the failed encode is not named: $(cat encode.err)"
[ "$(wc -l <encode.err)" = 1 ] || fail "more than one failure: $(cat encode.err)"
for f in music/one music/a/b\ c/two\ words music/a/THREE; do
  [ "$(head -c 2 "$f.mp3" | od -An -tx1 | tr -d ' \n')" = fffb ] || [ "$(head -c 2 "$f.mp3" | od -An -tx1 | tr -d ' \n')" = fff3 ] ||
    fail "$f.mp3 is no Layer III stream"
done
[ ! -e "music/a/b c/broken.mp3" ] || fail "the failed encode left an output"

find music -iname '*.wav' -delete
echo "not a sound" >music/a/broken.mp3
find music -iname '*.mp3' -print0 | xargs -0 -n1 -P"$(nproc)" \
  sh -c 'sonivert-decode "$1" "${1%.*}.wav"' sh 2>decode.err
status=$?
[ "$status" = 123 ] || fail "decode batch: xargs status $status, not 123 for one failed file"
grep -q '^sonivert-decode: music/a/broken.mp3: ' decode.err || fail "the failed decode is not named: $(cat decode.err)"
for f in music/one music/a/b\ c/two\ words music/a/THREE; do
  [ "$(head -c 4 "$f.wav")" = RIFF ] && [ "$(stat -c %s "$f.wav")" -gt 44000 ] || fail "$f.wav was not decoded"
done
left=$(find music -name '*.tmp-*')
[ -z "$left" ] || fail "temporary files left: $left"
echo "both batches converted every good file and named the bad one"
