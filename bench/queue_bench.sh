#!/usr/bin/env bash
# The window's queue against the same conversions run one after another on the command line:
# 20 short MP3 files decoded and 20 short WAV files encoded (2 s each, 44.1 kHz stereo; Layer III,
# 128 kbit/s joint stereo, the window's defaults). Both runs alternate, --runs times each; the
# median wall time of each and the ratio queue / command line are printed (target: at most 1.2).
#
#   bench/queue_bench.sh [--runs N] [--build DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=5
source bench/runs_and_build.sh
bin="$(cd "$build/bin" && pwd)"
for p in queue_bench tompg sonivert-decode; do
  [ -x "$bin/$p" ] || { echo "no $bin/$p: cmake --build $build --target queue_bench" >&2; exit 1; }
done
command -v sox >/dev/null || { echo "missing sox (bash scripts/setup.sh)" >&2; exit 1; }

work=$(mktemp -d /dev/shm/queue-bench.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/out"
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
# Sources: a chord sweep, a different one per file. The MP3 files are made by our own tompg.
for n in $(seq 1 20); do
  i=$(printf %02d "$n")
  sox -R -n -r 44100 -b 16 -c 2 "$work/in/w$i.wav" synth 2 sine $((200 + n * 20))-$((900 + n * 30)) vol 0.3
  sox -R -n -r 44100 -b 16 -c 2 "$work/m$i.wav" synth 2 sine $((300 + n * 20))-$((700 + n * 30)) vol 0.3
  "$bin/tompg" "$work/m$i.wav" "$work/in/m$i.mp3" -L3 -B64 -M1 -P2 -S0 -N4 >/dev/null || true
  rm "$work/m$i.wav"
done

# The command line: one program after another, as a shell loop runs them.
command_line() {
  for f in "$work"/in/*.mp3; do
    n=$(basename "$f" .mp3)
    "$bin/sonivert-decode" "$f" "$work/out/$n.wav"
  done
  for f in "$work"/in/*.wav; do
    n=$(basename "$f" .wav)
    "$bin/tompg" "$f" "$work/out/$n.mp3" -L3 -B64 -M1 -P2 -S0 -N4 >/dev/null || true
  done
}
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

cli=() queue=()
for r in $(seq 1 "$runs"); do
  rm -f "$work"/out/*
  t0=$(now_ms); command_line; t1=$(now_ms)
  cli+=($((t1 - t0)))
  [ "$(ls "$work/out" | wc -l)" -eq 40 ] || { echo "the command line gave $(ls "$work/out" | wc -l) outputs" >&2; exit 1; }
  rm -f "$work"/out/*
  line=$("$bin/queue_bench" "$work/in" "$work/out" "$bin")
  queue+=($(echo "$line" | sed -n 's/.* in \([0-9]*\) ms.*/\1/p'))
  echo "run $r: command line ${cli[-1]} ms, $line"
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
mc=$(median "${cli[@]}") mq=$(median "${queue[@]}")
echo "median of $runs: command line $mc ms, queue $mq ms, queue / command line $(awk -v q="$mq" -v c="$mc" 'BEGIN {printf "%.2f", q / c}')"
