#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer configuration and runs the
# whole test suite in both, then the tests that start threads or processes under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

echo "== normal configuration (gcc, optimised) =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer configuration (clang, address + undefined, fuzz targets) =="
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSONIVERT_SANITIZE=ON -DSONIVERT_FUZZ=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== thread sanitizer (clang): the tests that start the job thread or child processes =="
# The decoder job thread and the command-line decoder, the encoder's child processes on the
# pseudo-terminal, tompg run as the host runs it, both programs replacing or keeping an output, two
# processes saving the settings at once, and the window running real queues. Qt's own races are
# suppressed by their top frame only (tests/tsan_qt.supp): a race in a slot of ours is reported. The window tests start their own processes with fork and read
# /proc, not through QProcess, whose clone-based start the ThreadSanitizer runtime cannot follow.
CC=clang CXX=clang++ cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONIVERT_TSAN=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target platform_tests decoder_tests encoder_tests tompg_tests \
  foundation_tests mainform_tests sonivert-decode tompg
tsan_tests='^(JobThread|DecoderJob|Rows/DecoderStreams|Console|Monitor|Priority'
tsan_tests+='|EncoderJobSucceeded|RealTompg|ProgressLine|Layers/ProgressLine|ErrorLine|Cases/ErrorLine'
tsan_tests+='|StoreTest\.ConcurrentSaves|MainWindow|QueueFaults|QueueScenes|Access|tompg\.ReplacesWithout)'
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan_qt.supp" \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R "$tsan_tests"
