#!/usr/bin/env bash
# Installs what is missing, builds Sonivert and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"
if [ -x build/bin/sonivert ]; then
  exec build/bin/sonivert
fi
cat <<'MSG'
Built. The main window is not there yet; the command-line tools are:
  build/bin/sonivert-decode INPUT.mp3 OUTPUT.wav      decode an MP3 file to a 16-bit WAV file
  build/bin/tompg "IN.wav" "OUT.mp3" -L3 -B64 -M1 -P2 -S0 -N4
                                                      encode a WAV file (Layer 1..3, kbit/s per
                                                      channel, mode 0 stereo .. 3 mono)
MSG
