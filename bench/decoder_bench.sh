#!/usr/bin/env bash
# Decoder benchmark: times build/bin/sonivert-decode against mpg123 decoding the same MP3 files to
# WAV (whole process, median of several runs) and reports the ratio of our time to mpg123's, the
# times faster than real time and the peak memory of both. With --callgrind it also counts the
# instructions of one decode of each file by each program (repeatable, independent of load).
#
# The corpus is made reproducibly: a fixed 300 s signal from sox (chords of tones that change
# every few seconds, pink noise, noise bursts; -R seeds the noise the same way every time),
# encoded by lame with -t so that every file starts with a frame header.
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
for tool in sox lame mpg123 hyperfine python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (scripts/setup.sh installs it)"; exit 2; }
done

# The folder name carries the recipe version: a changed recipe makes a new corpus.
corpus=$root/bench/corpus/r2-s$seconds
results=$root/bench/results
mkdir -p "$corpus" "$results"
# Output WAV files go to memory when possible, so the disk does not add noise to either side.
outdir=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )/decbench.XXXXXX")
trap 'rm -rf "$outdir"' EXIT

# name | lame options | input rate
files=(
  "j128|-m j -b 128 --cbr|44100"
  "s320|-m j -b 320 --cbr|44100"
  "vbr2|-m j -V 2|44100"
  "mono96|-m m -b 96 --cbr|44100"
  "lsf22k64|-m j -b 64 --cbr|22050"
)

# Everything is made in a private folder and moved into the corpus when complete, under a lock,
# so that two runs of the script at once neither clash nor see half-made files.
make_source() {
  local rate=$1 out=$corpus/source_$1.wav tmp
  [ -f "$out" ] && return 0
  tmp=$(mktemp -d "$corpus/.make.XXXXXX")
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
  mv "$tmp/source.wav" "$out"
  rm -rf "$tmp"
}

exec 9>"$corpus/.lock"
flock 9
for entry in "${files[@]}"; do
  IFS='|' read -r name opts rate <<<"$entry"
  mp3=$corpus/$name.mp3
  [ -f "$mp3" ] && continue
  make_source "$rate"
  echo "encoding $name ($opts)" >&2
  # shellcheck disable=SC2086
  lame --quiet -t $opts "$corpus/source_$rate.wav" "$mp3.part"
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
{
  echo "decoder benchmark $stamp, $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
  echo "sonivert-decode: $decoder; mpg123: $(mpg123 --version | head -1); $runs runs, median"
  printf '%-9s %8s %9s %9s %7s %9s %9s %9s %9s %11s' file audio_s ours_s mpg123_s ratio ours_xRT mpg_xRT ours_kB mpg_kB rms/max
  [ $callgrind = 1 ] && printf ' %12s %12s %6s' ours_Ir mpg123_Ir Ir_ratio
  printf '\n'
} | tee "$table"

for entry in "${files[@]}"; do
  IFS='|' read -r name opts rate <<<"$entry"
  [ -n "$only" ] && [ "$only" != "$name" ] && continue
  mp3=$corpus/$name.mp3
  json=$results/decoder_${stamp}_$name.json
  hyperfine --style none --warmup 1 --runs "$runs" --export-json "$json" \
    -n ours "$decoder $mp3 $outdir/ours.wav" \
    -n mpg123 "mpg123 -q -w $outdir/mpg123.wav $mp3" >/dev/null
  read -r ours theirs audio <<<"$(python3 - "$json" "$outdir/ours.wav" <<'EOF'
import json, struct, sys
r = {x['command']: x['median'] for x in json.load(open(sys.argv[1]))['results']}
h = open(sys.argv[2], 'rb').read(44)
ch, rate = struct.unpack('<HI', h[22:28])
data = struct.unpack('<I', h[40:44])[0]
print(r['ours'], r['mpg123'], data / (2 * ch * rate))
EOF
)"
  ours_kb=$(peak_rss "$decoder" "$mp3" "$outdir/ours.wav")
  mpg_kb=$(peak_rss mpg123 -q -w "$outdir/mpg123.wav" "$mp3")
  line=$(python3 -c "
o, m, a = $ours, $theirs, $audio
print('%-9s %8.1f %9.4f %9.4f %7.3f %9.0f %9.0f' % ('$name', a, o, m, o / m, a / o, a / m), end='')")
  line="$line $(printf '%9s %9s' "$ours_kb" "$mpg_kb")"
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
    line="$line $(printf '%12s %12s %6.3f' "$oi" "$mi" "$(python3 -c "print($oi / max($mi, 1))")")"
  fi
  echo "$line" | tee -a "$table"
done
echo "table: $table; hyperfine results: $results/decoder_${stamp}_*.json"
