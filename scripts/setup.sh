#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking Sonivert needs.
# Runs apt-get only for what is missing, with sudo when not root.
set -euo pipefail
PACKAGES=(
  build-essential cmake pkg-config git
  clang libclang-rt-14-dev            # sanitizer configuration and the fuzz target
  qt6-base-dev libgl-dev qt6-svg-dev  # the windows, their glyphs and pictures (drawn as SVG)
  desktop-file-utils appstream        # validating the desktop entry and the AppStream metadata
  man-db groff-base                   # rendering and checking the manual pages
  file lintian                        # the Debian package: CPack's dependency scan, its check
  qt6-wayland weston                  # the window on Wayland, and a headless compositor to test it
  dbus-daemon                         # a private session bus for the desktop notification test
  at-spi2-core python3-pyatspi        # the accessibility bus, read as a screen reader reads it
  libgtest-dev libgmock-dev           # unit tests
  libvterm-dev                        # terminal screen model of the encoder console
  libmp3lame-dev libtwolame-dev libsoxr-dev   # tompg: Layer III, Layer II, resampling
  libsndfile1-dev                     # tompg and inspection: reading WAV, AIFF, FLAC, Ogg Vorbis, Opus
  lame twolame mpg123 sox             # reference peers for tests and benchmarks
  ffmpeg flac vorbis-tools opus-tools # the tests' sources in every format, made as people make them
  id3v2 eyed3                         # taggers: MP3 files as people have them, in the tests
  hyperfine valgrind time             # benchmarks (timing, instruction counts, peak memory)
  ffmpeg linux-perf                   # the decoder benchmark's second peer; time split by stage
  libbenchmark-dev                    # micro-benchmarks (bench/*_bench.cpp)
  python3
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
