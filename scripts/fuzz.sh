#!/usr/bin/env bash
# A long fuzzing run of one target, at low priority with one job:
#   bash scripts/fuzz.sh TARGET SECONDS [BUILD]
# TARGET is one of the targets in fuzz/CMakeLists.txt; BUILD (default build-asan) is a build
# configured with -DSONIVERT_FUZZ=ON and clang. New inputs go to BUILD/fuzzrun/TARGET, crash
# inputs to BUILD/fuzzrun/TARGET-crash-*; the log ends with libFuzzer's figures and the CPU time.
# Afterwards `bash scripts/fuzz.sh --merge TARGET` adds what the run found to the stored corpus,
# only the inputs that add coverage.
set -euo pipefail
cd "$(dirname "$0")/.."
# libFuzzer's limits, the same for a run and for a merge.
limits=(-max_len=16384 -timeout=20 -rss_limit_mb=2048)
# The system libraries' own leaks are not findings (fuzz/lsan.supp).
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
if [ "${1:-}" = --merge ]; then
  # The stored inputs stay; a found input joins them only when it reaches code or counts that
  # none of them does.
  target=$2 build=${3:-build-asan}
  "$build/bin/$target" -merge=1 "${limits[@]}" \
    "fuzz/corpus/$target" "$build/fuzzrun/$target"
  echo "fuzz/corpus/$target: $(ls "fuzz/corpus/$target" | wc -l) files, $(cat "fuzz/corpus/$target"/* | wc -c) bytes"
  exit 0
fi
target=$1 seconds=$2 build=${3:-build-asan}
mkdir -p "$build/fuzzrun/$target"
extra=()
[ "$target" = decoder_fuzz ] && extra=(fuzz/seeds)
TIMEFORMAT="cpu: %U s user, %S s system, %R s elapsed"
time nice -n 15 "$build/bin/$target" "$build/fuzzrun/$target" "fuzz/corpus/$target" "${extra[@]}" \
  -max_total_time="$seconds" "${limits[@]}" -print_final_stats=1 \
  -artifact_prefix="$build/fuzzrun/$target-"
