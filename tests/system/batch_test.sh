#!/usr/bin/env bash
# The README's batch commands on a small folder tree, one process per core: every WAV file
# encoded by tompg, then every MP3 file decoded by sonivert-decode, beside their sources. The bad
# file is named on standard error, xargs ends with 123, and no temporary file is left.
#   batch_test.sh BIN_DIR
set -uo pipefail
export PATH="$1:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work" && mkdir -p "music/a/b c" || exit 1
sox -q -n -r 44100 -c 2 -b 16 music/one.wav synth 1.5 sine 440 || fail sox
sox -q -n -r 22050 -c 1 -b 16 "music/a/b c/two words.wav" synth 2 sine 660
sox -q -n -r 48000 -c 2 -b 24 music/a/THREE.WAV synth 1 sine 330
echo "not a sound" >"music/a/b c/broken.wav"
good=(music/one "music/a/b c/two words" music/a/THREE)

find music -iname '*.wav' -print0 | xargs -0 -n1 -P"$(nproc)" sh -c '
  err=$(tompg "$1" "${1%.*}.mp3" -L3 -B64 -M1 2>&1 >/dev/null)
  [ -z "$err" ] || { echo "$err" >&2; exit 1; }' sh 2>err
[ $? = 123 ] && [ "$(cat err)" = "tompg: UNRECOGNIZED PCM FILE FORMAT: unknown file type: music/a/b c/broken.wav" ] ||
  fail "the encode batch did not name its one failure: $(cat err)"
for f in "${good[@]}"; do [ "$(head -c 1 "$f.mp3" | od -An -tx1)" = " ff" ] || fail "$f.mp3 is no MPEG stream"; done

find music -iname '*.wav' -delete
echo "not a sound" >music/a/broken.mp3
find music -iname '*.mp3' -print0 | xargs -0 -n1 -P"$(nproc)" \
  sh -c 'sonivert-decode "$1" "${1%.*}.wav"' sh 2>err
[ $? = 123 ] && grep -qx 'sonivert-decode: music/a/broken.mp3: .*' err && [ "$(wc -l <err)" = 1 ] ||
  fail "the decode batch did not name its one failure: $(cat err)"
for f in "${good[@]}"; do [ "$(head -c 4 "$f.wav")" = RIFF ] && [ "$(stat -c %s "$f.wav")" -gt 44000 ] || fail "$f.wav"; done
[ -z "$(find music -name '*.tmp-*')" ] || fail "temporary files left: $(find music -name '*.tmp-*')"
