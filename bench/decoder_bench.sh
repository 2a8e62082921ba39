#!/usr/bin/env bash
# Decoder benchmark: times build/bin/sonivert-decode against its peers, mpg123 and ffmpeg (one
# thread), decoding the same MP3 files to WAV (whole process, median of several runs), and reports
# the ratio of our time to the fastest peer's, the times faster than real time and the peak memory
# of all three. With --callgrind it also counts the instructions of one decode of each file by
# each program (repeatable, independent of load).
#
# The corpus is made reproducibly from sox signals (-R seeds the noise the same way every time):
# music (chords of tones that change every few seconds, pink noise, noise bursts), speech-like
# phrases and castanets-like clicks, encoded by lame with -t so that every file starts with a
# frame header.
#
# usage: bench/decoder_bench.sh [--build DIR] [--runs N] [--seconds S] [--callgrind] [--only NAME]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
runs=7
seconds=300
callgrind=0
only=""
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --callgrind) callgrind=1; shift ;;
    --only) only=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--runs N] [--seconds S] [--callgrind] [--only NAME]"; exit 2 ;;
  esac
done
decoder=$build/bin/sonivert-decode
compare=$build/tests/pcm_compare
[ -x "$decoder" ] || { echo "no $decoder: build the sonivert-decode target first"; exit 2; }
for tool in sox lame mpg123 ffmpeg hyperfine python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (scripts/setup.sh installs it)"; exit 2; }
done

# The folder name carries the recipe version: a changed recipe makes a new corpus.
corpus=$root/bench/corpus/r2-s$seconds
results=$root/bench/results
mkdir -p "$corpus" "$results"
# Output WAV files go to memory when possible, so the disk does not add noise to either side.
outdir=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )/decbench.XXXXXX")
trap 'rm -rf "$outdir"' EXIT

# name | lame options | source (music, speech or castanets) | input rate
files=(
  "j128|-m j -b 128 --cbr|music|44100"
  "s320|-m j -b 320 --cbr|music|44100"
  "vbr2|-m j -V 2|music|44100"
  "mono96|-m m -b 96 --cbr|music|44100"
  "lsf22k64|-m j -b 64 --cbr|music|22050"
  "speech64|-m m -b 64 --cbr|speech|44100"
  "castvbr|-m j -V 2|castanets|44100"
)

# Everything is made in a private folder and moved into the corpus when complete, under a lock,
# so that two runs of the script at once neither clash nor see half-made files.
# make_source KIND RATE: the source WAV of a kind (music, speech or castanets) at a rate.
make_source() {
  local out tmp
  out=$(source_of "$1" "$2")
  [ -f "$out" ] && return 0
  tmp=$(mktemp -d "$corpus/.make.XXXXXX")
  "make_$1" "$2" "$tmp"
  mv "$tmp/source.wav" "$out"
  rm -rf "$tmp"
}

source_of() { [ "$1" = music ] && echo "$corpus/source_$2.wav" || echo "$corpus/$1_$2.wav"; }

# Each make_KIND RATE TMP leaves TMP/source.wav.
make_music() {
  local rate=$1 tmp=$2
  local parts=() i=0 t=0
  # Chords of three tones per channel, a new chord every 6 s.
  while [ $t -lt "$seconds" ]; do
    local f=$((110 + (i * 37) % 400))
    sox -V1 -R -r "$rate" -c 6 -n -b 16 "$tmp/chord_$i.wav" \
      synth 6 sine $f sine $((f * 3 / 2)) sine $((f * 2)) sine $((f * 5 / 4)) sine $((f * 3)) sine $((f * 4)) \
      vol 0.25 remix 1,3,5 2,4,6
    parts+=("$tmp/chord_$i.wav")
    i=$((i + 1)); t=$((t + 6))
  done
  sox -V1 "${parts[@]}" "$tmp/chords.wav"
  sox -V1 -R -n -r "$rate" -c 2 -b 16 "$tmp/pink.wav" synth "$seconds" pinknoise vol 0.15
  sox -V1 -R -n -r "$rate" -c 2 -b 16 "$tmp/burst.wav" synth 0.03 whitenoise vol 0.6 pad 0 0.97 repeat $((seconds - 1))
  sox -V1 -R -m "$tmp/chords.wav" "$tmp/pink.wav" "$tmp/burst.wav" "$tmp/source.wav" trim 0 "$seconds"
}

# Speech-like, one channel: phrases of 1.7 s (a sawtooth voice whose pitch glides, shaped by the
# formants of one of four vowels and cut into syllables of about 0.23 s) with 0.3 s pauses,
# over faint hiss-like fricatives that come and go at their own rate.
make_speech() {
  local rate=$1 tmp=$2
  local formants=("730 1090 2440" "270 2290 3010" "300 870 2240" "530 1840 2480")
  local parts=() i=0 t=0
  while [ $t -lt "$seconds" ]; do
    local f0=$((95 + (i * 29) % 90)) glide=$(((i * 17) % 60 - 30))
    read -r f1 f2 f3 <<<"${formants[i % 4]}"
    sox -V1 -R -n -r "$rate" -c 1 -b 16 "$tmp/phrase_$i.wav" synth 1.7 sawtooth $f0-$((f0 + glide)) \
      vol 0.3 lowpass 4000 equalizer $f1 0.7q +14 equalizer $f2 0.9q +12 equalizer $f3 1q +8 \
      tremolo $((4 + i % 2)).3 85 fade t 0.05 1.7 0.1 pad 0 0.3
    parts+=("$tmp/phrase_$i.wav")
    i=$((i + 1)); t=$((t + 2))
  done
  sox -V1 "${parts[@]}" "$tmp/voice.wav"
  sox -V1 -R -n -r "$rate" -c 1 -b 16 "$tmp/hiss.wav" synth "$seconds" whitenoise highpass 3000 \
    tremolo 2.9 100 vol 0.05
  sox -V1 -R -m "$tmp/voice.wav" "$tmp/hiss.wav" "$tmp/source.wav" trim 0 "$seconds" gain -n -3
}

# Castanets-like, two channels: clicks of 12 ms (bright noise, sharp attack, fast decay) in rolls
# of three to five, 45 to 60 ms apart, and single clicks, over a quiet chord; every click is a
# transient that makes the encoder switch to short blocks.
make_castanets() {
  local rate=$1 tmp=$2
  local gaps=(0.045 0.045 0.045 0.33 0.06 0.06 0.18 0.045 0.045 0.045 0.045 0.33 0.18 0.06 0.33)
  local parts=() k=0
  for gap in "${gaps[@]}"; do
    sox -V1 -R -n -r "$rate" -c 2 -b 16 "$tmp/click_$k.wav" synth 0.012 whitenoise highpass 1500 \
      vol $((6 + k % 4))e-1 fade q 0.0005 0.012 0.0115 pad 0 "$(python3 -c "print($gap - 0.012)")"
    parts+=("$tmp/click_$k.wav")
    k=$((k + 1))
  done
  sox -V1 "${parts[@]}" "$tmp/pattern.wav"
  sox -V1 "$tmp/pattern.wav" "$tmp/clicks.wav" repeat $((seconds * 100 / 184 + 1))  # 1.845 s a pattern
  sox -V1 -R -n -r "$rate" -c 2 -b 16 "$tmp/chord.wav" synth "$seconds" sine 196 sine 294 vol 0.06
  sox -V1 -R -m "$tmp/clicks.wav" "$tmp/chord.wav" "$tmp/source.wav" trim 0 "$seconds"
}

exec 9>"$corpus/.lock"
flock 9
for entry in "${files[@]}"; do
  IFS='|' read -r name opts kind rate <<<"$entry"
  mp3=$corpus/$name.mp3
  [ -f "$mp3" ] && continue
  make_source "$kind" "$rate"
  echo "encoding $name ($opts)" >&2
  # shellcheck disable=SC2086
  lame --quiet -t $opts "$(source_of "$kind" "$rate")" "$mp3.part"
  head=$(od -An -tx1 -N2 "$mp3.part" | tr -d ' \n')
  [[ $head =~ ^fff[23ab]$ ]] || { echo "$mp3 does not start with a frame header ($head)"; exit 1; }
  mv "$mp3.part" "$mp3"
done
flock -u 9

# Peak resident memory (kB) of one run of a command. GNU time forks from a small process, so the
# figure (which counts the forked image before exec) is at most about 1 MB high.
peak_rss() {
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1
}

# Instructions of one run, counted by callgrind.
instructions() {
  local out=$outdir/callgrind.out
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >/dev/null 2>&1
  awk '/^summary:|^totals:/ { n = $2; exit } END { printf "%.0f\n", n }' "$out"
  rm -f "$out"
}

stamp=$(date -u +%Y%m%dT%H%M%SZ)
table=$results/decoder_$stamp.txt
ffmpeg_cmd="ffmpeg -nostdin -v error -threads 1 -y"
{
  echo "decoder benchmark $stamp, $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "vector flags: $(grep -m1 '^flags' /proc/cpuinfo | tr ' ' '\n' | grep -E '^(sse4_2|avx|avx2|fma|avx512.*)$' | xargs)"
  echo "sonivert-decode: $decoder; $(mpg123 --version | head -1); $(ffmpeg -version | head -1 | cut -d' ' -f1-3) -threads 1; $runs runs, median"
  printf '%-9s %8s %9s %9s %9s %7s %9s %9s %9s %9s %11s' file audio_s ours_s mpg123_s ffmpeg_s ratio ours_xRT ours_kB mpg_kB ffm_kB rms/max
  [ $callgrind = 1 ] && printf ' %12s %12s %12s' ours_Ir mpg123_Ir ffmpeg_Ir
  printf '\n'
} | tee "$table"

for entry in "${files[@]}"; do
  IFS='|' read -r name opts kind rate <<<"$entry"
  [ -n "$only" ] && [ "$only" != "$name" ] && continue
  mp3=$corpus/$name.mp3
  json=$results/decoder_${stamp}_$name.json
  # Each run writes a new file, as a conversion does: the outputs are removed before every run.
  hyperfine --style none --warmup 1 --runs "$runs" --export-json "$json" \
    --prepare "rm -f $outdir/ours.wav" --prepare "rm -f $outdir/mpg123.wav" --prepare "rm -f $outdir/ffmpeg.wav" \
    -n ours "$decoder $mp3 $outdir/ours.wav" \
    -n mpg123 "mpg123 -q -w $outdir/mpg123.wav $mp3" \
    -n ffmpeg "$ffmpeg_cmd -i $mp3 $outdir/ffmpeg.wav" >/dev/null
  read -r ours mpg ffm audio <<<"$(python3 - "$json" "$outdir/ours.wav" <<'EOF'
import json, struct, sys
r = {x['command']: x['median'] for x in json.load(open(sys.argv[1]))['results']}
h = open(sys.argv[2], 'rb').read(44)
ch, rate = struct.unpack('<HI', h[22:28])
data = struct.unpack('<I', h[40:44])[0]
print(r['ours'], r['mpg123'], r['ffmpeg'], data / (2 * ch * rate))
EOF
)"
  ours_kb=$(peak_rss "$decoder" "$mp3" "$outdir/ours.wav")
  mpg_kb=$(peak_rss mpg123 -q -w "$outdir/mpg123.wav" "$mp3")
  # shellcheck disable=SC2086
  ffm_kb=$(peak_rss $ffmpeg_cmd -i "$mp3" "$outdir/ffmpeg.wav")
  line=$(python3 -c "
o, m, f, a = $ours, $mpg, $ffm, $audio
print('%-9s %8.1f %9.4f %9.4f %9.4f %7.3f %9.0f' % ('$name', a, o, m, f, o / min(m, f), a / o), end='')")
  line="$line $(printf '%9s %9s %9s' "$ours_kb" "$mpg_kb" "$ffm_kb")"
  # The timed outputs must also agree: RMS/max difference in LSB against mpg123's.
  if [ -x "$compare" ]; then
    diff=$("$compare" "$outdir/mpg123.wav" "$outdir/ours.wav" | awk '{ print $2 "/" $4 }')
  else
    diff=-
  fi
  line="$line $(printf '%11s' "$diff")"
  if [ $callgrind = 1 ]; then
    oi=$(instructions "$decoder" "$mp3" "$outdir/ours.wav")
    mi=$(instructions mpg123 -q -w "$outdir/mpg123.wav" "$mp3")
    # shellcheck disable=SC2086
    fi=$(instructions $ffmpeg_cmd -i "$mp3" "$outdir/ffmpeg.wav")
    line="$line $(printf '%12s %12s %12s' "$oi" "$mi" "$fi")"
  fi
  echo "$line" | tee -a "$table"
done
echo "ratio: our median time / the fastest peer's (target: at most 0.6); rms/max: LSB against mpg123" | tee -a "$table"
echo "table: $table; hyperfine results: $results/decoder_${stamp}_*.json"
