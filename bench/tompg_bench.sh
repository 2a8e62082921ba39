#!/usr/bin/env bash
# tompg against the reference command-line encoders on the same 5-minute WAV.
#
#   Layer III: tompg -L3 -B64 -M1 (128 kbit/s joint stereo)   vs  lame -b 128 -m j
#   Layer II:  tompg -L2 -B96 -M1 (192 kbit/s joint stereo)   vs  twolame -b 192 -m j
#   Layer I:   tompg -L1 -B96 -M1 (192 kbit/s joint stereo)   (no reference; speed only)
#
# Whole process timed by hyperfine (one warm-up, median of --runs runs), outputs into /dev/shm.
# Prints the median wall time and the mean CPU time (user + system, steadier on a shared machine),
# the ratios ours/theirs (target: at most 1.05) and times faster than real time.
#
#   bench/tompg_bench.sh [--runs N] [--build DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=7
source bench/runs_and_build.sh
tompg="$build/bin/tompg"
[ -x "$tompg" ] || { echo "no $tompg: cmake --build $build --target tompg" >&2; exit 1; }
for tool in hyperfine lame twolame sox python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (bash scripts/setup.sh)" >&2; exit 1; }
done

# The source: 300 s, 44.1 kHz, 16-bit stereo, made once and reused. Changing chords over pink
# noise; -R makes sox seed its noise the same way every time, so the file is always identical.
corpus=bench/corpus/tompg
mkdir -p "$corpus" bench/results
wav="$corpus/s300.wav"
if [ ! -f "$wav" ]; then
  sox -R -n -r 44100 -b 16 -c 2 "$corpus/chords.wav" synth 300 \
    sine 220-880 sine 330-1320 sine 2500-600 tremolo 3 60 vol 0.25
  sox -R -n -r 44100 -b 16 -c 2 "$corpus/noise.wav" synth 300 pinknoise vol 0.08
  sox -R -m "$corpus/chords.wav" "$corpus/noise.wav" "$wav"
  rm -f "$corpus/chords.wav" "$corpus/noise.wav"
fi
seconds=$(soxi -D "$wav")
out=/dev/shm/tompg-bench.$$
mkdir -p "$out"
trap 'rm -rf "$out"' EXIT
stamp=$(date -u +%Y%m%dT%H%M%SZ)

bench() { # name command...
  local name=$1; shift
  # -i: tompg's exit status is the frame count modulo 256, not 0; the outputs are checked below.
  hyperfine -N -i --warmup 1 --runs "$runs" --export-json "bench/results/tompg-$name.json" "$@" >/dev/null
}
bench L3 "$tompg $wav $out/o.mp3 -L3 -B64 -M1 -P2 -S0 -N4" "lame -S -b 128 -m j $wav $out/r.mp3"
bench L2 "$tompg $wav $out/o.mp2 -L2 -B96 -M1 -P2 -S0 -N4" "twolame --quiet -b 192 -m j $wav $out/r.mp2"
bench L1 "$tompg $wav $out/o.mp1 -L1 -B96 -M1 -P2 -S0 -N4"

for f in o.mp3 r.mp3 o.mp2 r.mp2 o.mp1; do
  [ -s "$out/$f" ] || { echo "no output $f: an encoder failed" >&2; exit 1; }
done

python3 - "$seconds" "$runs" "$stamp" <<'PY' | tee "bench/results/tompg-$stamp.txt"
import json, statistics, sys
seconds, runs, stamp = float(sys.argv[1]), sys.argv[2], sys.argv[3]
print(f"tompg benchmark {stamp}: {seconds:.0f} s of 44.1 kHz stereo, median of {runs} runs")
print(f"{'case':<6}{'ours s':>9}{'theirs s':>10}{'ratio':>8}{'ours cpu':>10}{'theirs cpu':>12}{'cpu ratio':>11}{'x real time':>13}")
def med(result):
    # hyperfine keeps every wall time but only the mean of user and system time.
    return statistics.median(result["times"]), result["user"] + result["system"]
for name in ("L3", "L2", "L1"):
    r = json.load(open(f"bench/results/tompg-{name}.json"))["results"]
    ours, ours_cpu = med(r[0])
    if len(r) > 1:
        theirs, theirs_cpu = med(r[1])
        print(f"{name:<6}{ours:>9.3f}{theirs:>10.3f}{ours / theirs:>8.3f}{ours_cpu:>10.3f}{theirs_cpu:>12.3f}"
              f"{ours_cpu / theirs_cpu:>11.3f}{seconds / ours:>13.1f}")
    else:
        print(f"{name:<6}{ours:>9.3f}{'-':>10}{'-':>8}{ours_cpu:>10.3f}{'-':>12}{'-':>11}{seconds / ours:>13.1f}")
PY
