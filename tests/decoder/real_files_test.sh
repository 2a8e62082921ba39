#!/usr/bin/env bash
# MP3 files as people have them, made here by the tools that make them (the lame encoder's
# default output with its information frame, a tagger's ID3v2 and ID3v1 tags, a cover picture,
# ffmpeg's output, MPEG 2.5 speech rates, APEv2 and Lyrics3v2 tags at the end), and damaged
# copies (bytes inserted, bytes lost, a broken header, a cut file, a Layer II frame spliced in).
# Each is decoded by sonivert-decode and by mpg123, a reference decoder run as a black box:
#   clean kinds   the same number of samples as mpg123 and PCM within RMS 1.0 LSB of its PCM,
#                 and nothing reported on standard error;
#   damaged kinds at least 95% of mpg123's samples, exit status 0, and the damage named on
#                 standard error.
#
# usage: real_files_test.sh SONIVERT_DECODE PCM_COMPARE
set -u
decoder=${1:?usage: real_files_test.sh SONIVERT_DECODE PCM_COMPARE}
compare=${2:?usage: real_files_test.sh SONIVERT_DECODE PCM_COMPARE}
decoder=$(realpath "$decoder") && compare=$(realpath "$compare") || exit 1
for tool in sox lame twolame mpg123 ffmpeg id3v2 eyeD3 python3; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (scripts/setup.sh installs it)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# 6 s of stereo music-like signal: two tones, pink noise, noise bursts (short blocks); -R makes
# sox's noise repeatable.
sox -V1 -R -n -r 44100 -c 2 -b 16 tone.wav synth 6 sine 330 sine 495 vol 0.4 &&
  sox -V1 -R -n -r 44100 -c 2 -b 16 pink.wav synth 6 pinknoise vol 0.15 &&
  sox -V1 -R -n -r 44100 -c 2 -b 16 burst.wav synth 0.02 whitenoise vol 0.8 pad 0 0.48 repeat 11 &&
  sox -V1 -R -m tone.wav pink.wav burst.wav signal.wav trim 0 6 &&
  sox -V1 signal.wav -n spectrogram -x 600 -y 400 -o cover.png || { echo "cannot make the signal"; exit 1; }

# Byte surgery on files, by the published layouts (python3, standard library only).
edit() {
  python3 - "$@" <<'EOF'
import random, struct, sys
op, src, dst = sys.argv[1], sys.argv[2], sys.argv[3]
d = bytearray(open(src, 'rb').read())
rnd = random.Random(7)
def junk(n):  # bytes with no 0xFF, so that they hold no frame sync by chance
    return bytes(rnd.randrange(0, 255) for _ in range(n))
def header_near(p):  # the first MPEG-1 Layer III header at or after p
    while not (d[p] == 0xFF and d[p + 1] & 0xFE == 0xFA): p += 1
    return p
def id3v2(size):
    return b'ID3\x03\x00\x00' + bytes([size >> 21 & 127, size >> 14 & 127, size >> 7 & 127, size & 127]) + bytes(size)
if op == 'insert-junk':
    p = header_near(len(d) // 3); d[p:p] = junk(3000)
elif op == 'lose-bytes':
    p = len(d) // 2; del d[p:p + 2000]
elif op == 'break-header':
    p = header_near(len(d) // 2); d[p] = 0x00
elif op == 'cut':
    del d[header_near(3 * len(d) // 4) + 100:]
elif op == 'splice':
    p = header_near(len(d) // 2); d[p:p] = open(sys.argv[4], 'rb').read()
elif op == 'two-tags':
    d[0:0] = id3v2(300) + id3v2(50) + bytes(700)
elif op == 'end-tags':
    lyrics = b'LYRICSBEGININD0000210'
    d += lyrics + b'%06dLYRICS200' % len(lyrics)
    item = struct.pack('<I', 5) + struct.pack('<I', 0) + b'Title\x00Song!'
    for header in (True, False):
        flags = 0x80000000 | (0x20000000 if header else 0)
        block = b'APETAGEX' + struct.pack('<IIII', 2000, len(item) + 32, 1, flags) + bytes(8)
        if header: d += block + item
        else: d += block
    d += b'TAG' + b'Title'.ljust(30, b'\0') + bytes(95)
open(dst, 'wb').write(d)
EOF
}

make() {
  local kind=$1
  case $kind in
    lame-cbr) lame --quiet -b 128 signal.wav "$kind.mp3" ;;
    lame-vbr) lame --quiet -V 2 signal.wav "$kind.mp3" ;;
    lame-tagged) lame --quiet -b 96 --tt "A Title" --ta "An Artist" --add-id3v2 signal.wav "$kind.mp3" ;;
    tagger) lame --quiet -b 128 signal.wav "$kind.mp3" && id3v2 -a "An Artist" -t "A Title" -y 2026 "$kind.mp3" >/dev/null ;;
    cover) lame --quiet -b 128 signal.wav "$kind.mp3" && eyeD3 -Q --add-image cover.png:FRONT_COVER "$kind.mp3" >/dev/null 2>&1 ;;
    ffmpeg) ffmpeg -v error -i signal.wav -c:a libmp3lame -b:a 160k -metadata title="A Title" "$kind.mp3" ;;
    ffmpeg-mono) ffmpeg -v error -i signal.wav -ac 1 -ar 22050 -c:a libmp3lame -b:a 48k "$kind.mp3" ;;
    mpeg25-8k) lame --quiet -m m --resample 8 -b 16 signal.wav "$kind.mp3" ;;
    mpeg25-11k) lame --quiet --resample 11.025 -b 32 signal.wav "$kind.mp3" ;;
    mpeg25-12k) lame --quiet -m s --resample 12 -b 48 signal.wav "$kind.mp3" ;;
    two-tags) lame --quiet -b 128 signal.wav plain.mp3 && edit two-tags plain.mp3 "$kind.mp3" ;;
    end-tags) lame --quiet -b 128 signal.wav plain.mp3 && edit end-tags plain.mp3 "$kind.mp3" ;;
    junk-inserted | bytes-lost | broken-header | cut)
      lame --quiet -t -b 128 signal.wav plain.mp3 &&
        edit "$(sed 's/junk-inserted/insert-junk/; s/bytes-lost/lose-bytes/; s/broken-header/break-header/' <<<"$kind")" \
          plain.mp3 "$kind.mp3" ;;
    layer2-spliced)
      lame --quiet -t -b 128 signal.wav plain.mp3 && sox -V1 signal.wav -r 44100 short.wav trim 0 0.5 &&
        twolame --quiet -b 192 short.wav layer2.mp2 && edit splice plain.mp3 "$kind.mp3" layer2.mp2 ;;
  esac
}

# The WAV data size in sample frames.
frames_of() {
  python3 -c "import struct,sys; h=open(sys.argv[1],'rb').read(44); print(struct.unpack('<I',h[40:44])[0] // (2*struct.unpack('<H',h[22:24])[0]))" "$1"
}

clean=(lame-cbr lame-vbr lame-tagged tagger cover ffmpeg ffmpeg-mono mpeg25-8k mpeg25-11k mpeg25-12k two-tags end-tags)
damaged=(junk-inserted bytes-lost broken-header cut layer2-spliced)
failed=0
printf '%-15s %9s %9s  %s\n' kind ours mpg123 result
for kind in "${clean[@]}" "${damaged[@]}"; do
  if ! make "$kind" || [ ! -s "$kind.mp3" ]; then echo "$kind: cannot make the file"; failed=1; continue; fi
  mpg123 -q -w "$kind.ref.wav" "$kind.mp3" 2>/dev/null
  "$decoder" "$kind.mp3" "$kind.wav" 2>"$kind.err"
  rc=$?
  if [ $rc -ne 0 ] || [ ! -s "$kind.ref.wav" ]; then
    echo "$kind: exit status $rc: $(cat "$kind.err")"; failed=1; continue
  fi
  ours=$(frames_of "$kind.wav")
  ref=$(frames_of "$kind.ref.wav")
  if [[ " ${clean[*]} " == *" $kind "* ]]; then
    result=$("$compare" "$kind.ref.wav" "$kind.wav" 2>&1)
    rms=$(awk '{ for (i = 1; i < NF; i++) if ($i == "rms") print $(i + 1) }' <<<"$result")
    printf '%-15s %9s %9s  %s\n' "$kind" "$ours" "$ref" "$result"
    [ "$ours" = "$ref" ] || { echo "$kind: $ours samples, mpg123 $ref"; failed=1; }
    python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) < 1.0 else 1)" "${rms:-9}" ||
      { echo "$kind: RMS ${rms:-?} LSB from mpg123's PCM"; failed=1; }
    [ ! -s "$kind.err" ] || { echo "$kind: a clean file reported: $(cat "$kind.err")"; failed=1; }
  else
    # mpg123 plays the Layer II frames spliced into a Layer III stream as audio; we skip them as
    # bytes of another stream, so the measure is mpg123's decode of the stream without them.
    if [ "$kind" = layer2-spliced ]; then
      mpg123 -q -w plain.ref.wav plain.mp3 2>/dev/null
      ref=$(frames_of plain.ref.wav)
    fi
    printf '%-15s %9s %9s  %s\n' "$kind" "$ours" "$ref" "$(tr '\n' ' ' <"$kind.err")"
    [ $((ours * 100)) -ge $((ref * 95)) ] || { echo "$kind: $ours samples, under 95% of mpg123's $ref"; failed=1; }
    grep -q -E 'skipped|ends inside a frame' "$kind.err" || { echo "$kind: the damage was not named"; failed=1; }
  fi
done
exit $failed
