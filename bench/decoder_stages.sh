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
    # One sample a block: its frames from the leaf up, one address and function a line.
    perf script -i "$work/perf.data" -F ip,sym 2>/dev/null
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
# Functions that a stage reaches by a tail call: their frames stand where the stage entry would.
tail = {"EmitGranule": "synthesis", "SilentSubbands": "imdct"}
stage_of = {f: s for s, funcs in stages for f in funcs}
stage_of.update(tail)

def function(text):
    """The bare function name of a symbol: no namespaces, arguments or object."""
    text = re.sub(r"\s*\[.*\]$", "", text.strip())
    text = re.sub(r"\(anonymous namespace\)::", "", text)
    text = re.sub(r"^__GI_", "", text.split("(")[0].strip())
    return text.split("::")[-1].split("<")[0]

count = {s: 0 for s, _ in stages}
count["rest"] = 0
if perf:
    # Each sample counts for the first stage function on its way from the leaf up.
    samples, found = 0, None
    for line in sys.stdin.read().split("\n") + [""]:
        if not line.strip():
            if found is not None:
                count[found] += 1
                samples += 1
            found = None
            continue
        if found is None:
            found = "rest"
        if found == "rest":
            found = stage_of.get(function(line.strip().split(None, 1)[-1]), "rest")
    total = max(samples, 1)
    row = [100.0 * count[s] / total for s, _ in stages] + [100.0 * count["rest"] / total]
    print("%-9s " % name + " ".join("%8.1f%%" % n for n in row))
else:
    total, seen = 0, {}
    for line in sys.stdin:
        n, what = line.split(" ", 1)
        if "PROGRAM TOTALS" in what:
            total = int(n)
            continue
        what = what.split(":", 1)[1] if ":" in what.split("(")[0] else what
        f = function(what)
        seen[f] = max(seen.get(f, 0), int(n))
    # Inclusive counts; callgrind counts a tail call within its caller.
    row = [sum(seen.get(f, 0) for f in funcs) for _, funcs in stages]
    row.append(total - sum(row))
    print("%-9s %9.1f " % (name, total / 1e6) + " ".join("%9.1f (%4.1f%%)" % (n / 1e6, 100.0 * n / total) for n in row))
' "$name" "$perf"
done
