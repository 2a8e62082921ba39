#!/usr/bin/env bash
# Decodes streams made by the lame encoder with sonivert-decode and with mpg123 (a reference
# decoder run as a black box) and compares the two WAV files with pcm_compare: RMS < 0.80 LSB and
# max <= 2 LSB after alignment. Covers the lower sampling frequencies of ISO/IEC 13818-3 (ID 0:
# 16, 22.05, 24 kHz) in single channel and joint stereo, CBR and VBR, and MPEG-1 streams of each
# rate and channel mode lame writes. The signal mixes tones, pink noise and short noise bursts,
# whose attacks make the encoder switch to short blocks.
#
# usage: lsf_reference_test.sh SONIVERT_DECODE PCM_COMPARE
set -u
decoder=${1:?usage: lsf_reference_test.sh SONIVERT_DECODE PCM_COMPARE}
compare=${2:?usage: lsf_reference_test.sh SONIVERT_DECODE PCM_COMPARE}
for tool in sox lame mpg123 python3; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (scripts/setup.sh installs it)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "frames granules short-block-granules ID" for an MP3 that starts with a frame header.
count_blocks() {
  python3 - "$1" <<'EOF'
import sys
d = open(sys.argv[1], 'rb').read()
BR = {1: [0,32,40,48,56,64,80,96,112,128,160,192,224,256,320,0],
      0: [0,8,16,24,32,40,48,56,64,80,96,112,128,144,160,0]}
SR = {1: [44100,48000,32000,0], 0: [22050,24000,16000,0]}
p = frames = granules = short = 0; ident = -1
while p + 4 <= len(d):
    h = int.from_bytes(d[p:p+4], 'big')
    if h >> 20 != 0xFFF: break
    ident = (h >> 19) & 1; prot = (h >> 16) & 1; bri = (h >> 12) & 15; sf = (h >> 10) & 3
    if bri in (0, 15) or sf == 3: break
    pad = (h >> 9) & 1; nch = 1 if ((h >> 6) & 3) == 3 else 2
    bits = int.from_bytes(d[p+4+(0 if prot else 2):p+4+(0 if prot else 2)+32].ljust(32, b'\0'), 'big')
    pos = [256]
    def get(n):
        pos[0] -= n
        return (bits >> pos[0]) & ((1 << n) - 1)
    if ident: get(9); get(5 if nch == 1 else 3); [get(4) for _ in range(nch)]
    else: get(8); get(1 if nch == 1 else 2)
    for g in range(2 if ident else 1):
        for c in range(nch):
            get(12); get(9); get(8); get(4 if ident else 9)
            granules += 1
            if get(1):
                if get(2) == 2: short += 1
                get(1); get(10); get(9)
            else:
                get(15); get(4); get(3)
            get(3 if ident else 2)
    frames += 1
    p += (144000 if ident else 72000) * BR[ident][bri] // SR[ident][sf] + pad
print(frames, granules, short, ident)
EOF
}

# 4 s of stereo signal at the given rate: different tones left and right, pink noise, and noise
# bursts of 20 ms every 250 ms. -R makes sox's noise repeatable.
make_signal() {
  local rate=$1 out=$work/signal_$1.wav
  [ -f "$out" ] && return 0
  sox -V1 -R -n -r "$rate" -c 2 -b 16 "$work/tone.wav" synth 4 sine 440 sine 1234 vol 0.4 &&
  sox -V1 -R -n -r "$rate" -c 2 -b 16 "$work/pink.wav" synth 4 pinknoise vol 0.2 &&
  sox -V1 -R -n -r "$rate" -c 2 -b 16 "$work/burst.wav" synth 0.02 whitenoise vol 0.9 pad 0 0.23 repeat 15 &&
  sox -V1 -R -m "$work/tone.wav" "$work/pink.wav" "$work/burst.wav" "$out" trim 0 4
}

# rate, lame channel mode (m single channel, j joint stereo, f mid/side in every frame,
# s stereo, d dual channel), bitrate or V<quality>, expected ID (0 for the lower sampling
# frequencies), further lame options (-p: a CRC word in every frame).
cases=(
  "16000 m 8 0 --resample 16"   "16000 m 24 0"  "16000 j 48 0"  "16000 j V4 0"  "16000 j 160 0"
  "22050 m 32 0"  "22050 j 64 0"  "22050 f 64 0"  "22050 s 96 0"  "22050 d 96 0"  "22050 j V2 0"
  "24000 m 40 0"  "24000 j 96 0 -p"  "24000 j 160 0"
  "32000 m 64 1"  "44100 j 128 1" "44100 j 128 1 -p" "44100 s 192 1" "44100 j V2 1"
  "48000 d 192 1" "48000 j 320 1"
)
failed=0
totalShort=0
printf '%-22s %7s %8s %6s  %s\n' case frames granules short comparison
for c in "${cases[@]}"; do
  read -r rate mode rateArg id extra <<<"$c"
  suffix=$(tr -d ' -' <<<"${extra:-}")
  name="${rate}_${mode}_${rateArg}${suffix:+_$suffix}"
  mp3=$work/$name.mp3
  if [[ $rateArg == V* ]]; then quality=(-V "${rateArg#V}"); else quality=(-b "$rateArg" --cbr); fi
  if ! make_signal "$rate" || ! lame --quiet -t -m "$mode" "${quality[@]}" ${extra:-} "$work/signal_$rate.wav" "$mp3"; then
    echo "$name: cannot make the stream"; failed=1; continue
  fi
  # The decoder expects a frame header at byte 0 (no tag before the first frame).
  first=$(od -An -tx1 -N2 "$mp3" | tr -d ' \n')
  want=$([ "$id" = 0 ] && echo 'fff[23]' || echo 'fff[ab]')
  if ! [[ $first =~ ^$want$ ]]; then echo "$name: stream starts with $first"; failed=1; continue; fi
  read -r frames granules short sid <<<"$(count_blocks "$mp3")"
  if [ "$sid" != "$id" ]; then echo "$name: ID $sid, expected $id"; failed=1; continue; fi
  totalShort=$((totalShort + short))
  mpg123 -q -w "$work/$name.ref.wav" "$mp3" 2>/dev/null
  "$decoder" "$mp3" "$work/$name.wav" >"$work/$name.log" 2>&1
  rc=$?
  if [ $rc -ne 0 ]; then
    echo "$name: sonivert-decode exit code $rc: $(cat "$work/$name.log")"; failed=1; continue
  fi
  result=$("$compare" "$work/$name.ref.wav" "$work/$name.wav")
  rc=$?
  printf '%-22s %7s %8s %6s  %s\n' "$name" "$frames" "$granules" "$short" "$result"
  [ $rc -eq 0 ] || { echo "$name: outside the limits"; failed=1; }
  # Both decoders write every granule of every frame (lame's first frame needs no earlier main
  # data), so the lengths must agree too: a lost or extra granule shows here.
  read -r reflen testlen <<<"$(awk '{ for (i = 1; i < NF; i++) { if ($i == "reflen") r = $(i + 1); if ($i == "testlen") t = $(i + 1) } } END { print r, t }' <<<"$result")"
  [ "$reflen" = "$testlen" ] || { echo "$name: $testlen sample frames, mpg123 $reflen"; failed=1; }
done
# The bursts must have produced short blocks, or the test would not cover them.
if [ "$totalShort" -eq 0 ]; then echo "no short blocks in any stream"; failed=1; fi
exit $failed
