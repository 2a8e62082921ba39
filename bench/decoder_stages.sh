#!/usr/bin/env bash
# Where the decoder's work goes: one decode of each file of the decoder benchmark's corpus under
# callgrind, split by stage (the inclusive count of each stage's entry functions), in millions of
# instructions and as a share of the whole process. Instruction counts do not depend on the
# machine's load, so two builds can be compared on a busy machine. With --perf the split is of
# time instead: perf samples (cpu-clock, call graphs from DWARF) with the same stages, as shares of
# the samples, with the kernel's time in the write calls under "output"; noisier, and it needs a
# quiet machine, but it sees what instruction counts miss (mispredicted branches, cache misses,
# the page cache).
#
#   huffman    DecodeSpectrum
#   requant    DequantizeChannel, JointStereoGranule (requantization, reordering, stereo)
#   imdct      AliasReduce, HybridChannel (alias reduction, IMDCT, overlap-add)
#   synthesis  SynthesiseGranule (matrixing, windowing, PCM samples)
#   input      ReadFrameHeader, SkipCrc, ReadSideInfo, AppendMainData, DecodeScaleFactors
#   output     the PCM and header writes (fwrite_unlocked, fflush, fseek)
#   rest       the remainder: start-up, table set-up, thread, opening and closing the files
#
# Run bench/decoder_bench.sh once first: it makes the corpus.
# usage: bench/decoder_stages.sh [--build DIR] [--only NAME] [--perf]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
only=""
perf=0
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --only) only=$2; shift 2 ;;
    --perf) perf=1; shift ;;
    *) echo "usage: $0 [--build DIR] [--only NAME] [--perf]" >&2; exit 2 ;;
  esac
done
decoder=$build/bin/sonivert-decode
corpus=$root/bench/corpus/r2-s300
[ -x "$decoder" ] || { echo "no $decoder: build the sonivert-decode target first" >&2; exit 2; }
[ -f "$corpus/j128.mp3" ] || { echo "no corpus in $corpus: run bench/decoder_bench.sh first" >&2; exit 2; }
work=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )/stages.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ $perf = 1 ]; then
  printf '%-9s %9s %9s %9s %9s %9s %9s %9s\n' file huffman requant imdct synthesis input output rest
else
  printf '%-9s %9s %17s %17s %17s %17s %17s %17s %17s\n' file total_M huffman requant imdct synthesis input output rest
fi
for mp3 in "$corpus"/*.mp3; do
  name=$(basename "$mp3" .mp3)
  [ -n "$only" ] && [ "$only" != "$name" ] && continue
  if [ $perf = 1 ]; then
    perf record -q -e cpu-clock -F 4000 --call-graph dwarf,16384 -o "$work/perf.data" \
      "$decoder" "$mp3" "$work/out.wav" >/dev/null 2>&1
    perf report -i "$work/perf.data" --stdio --children --sort sym --percent-limit 0.01 2>/dev/null |
      grep -E '^ +[0-9.]+% +[0-9.]+%' | sed -E 's/^ +([0-9.]+)% +[0-9.]+% +\[.\] /\1 100 /'
    rm -f "$work/perf.data"
  else
    valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$decoder" "$mp3" "$work/out.wav" >/dev/null 2>&1
    callgrind_annotate --inclusive=yes --threshold=100 "$work/cg.out" 2>/dev/null |
      sed -nE 's/^ *([0-9,]+) +\([^)]*\) +(.*)$/\1 \2/p' | tr -d ,
  fi | python3 -c '
import re, sys
name, perf = sys.argv[1], sys.argv[2] == "1"
stages = [
    ("huffman", ["DecodeSpectrum"]),
    ("requant", ["DequantizeChannel", "JointStereoGranule"]),
    ("imdct", ["AliasReduce", "HybridChannel"]),
    ("synthesis", ["SynthesiseGranule"]),
    ("input", ["ReadFrameHeader", "SkipCrc", "ReadSideInfo", "AppendMainData", "DecodeScaleFactors"]),
    ("output", ["fwrite_unlocked", "fflush", "fseek"]),
]
total, seen = (100.0 if perf else 0), {}
for line in sys.stdin:
    count, what = line.split(" ", 1)
    count = float(count)
    if "PROGRAM TOTALS" in what:
        total = count
        continue
    # [file:]function [object]: the function name up to its argument list.
    what = re.sub(r"\s*\[.*\]$", "", what.strip())
    if perf:
        what = what.split(" ", 1)[1]
    elif ":" in what:
        what = what.split(":", 1)[1]
    func = what.split("(")[0].strip()
    func = re.sub(r"^__GI_", "", func)
    seen[func] = max(seen.get(func, 0), count)
row, used = [], 0
for stage, funcs in stages:
    n = sum(seen.get(f, 0) for f in funcs)
    used += n
    row.append(n)
row.append(total - used)
if perf:
    print("%-9s " % name + " ".join("%8.1f%%" % n for n in row))
else:
    print("%-9s %9.1f " % (name, total / 1e6) + " ".join("%9.1f (%4.1f%%)" % (n / 1e6, 100.0 * n / total) for n in row))
' "$name" "$perf"
done
