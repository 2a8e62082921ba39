#!/usr/bin/env bash
# The real program as a screen reader meets it: on a private session bus with the accessibility
# bus of the desktop (AT-SPI), under a headless Wayland compositor, atspi_read.py reads the window
# through AT-SPI and finds every control a user acts on with its role and a name, and the file list's
# line of the one file in the folder the window opens.
#   atspi_test.sh BIN_DIR        exit 77 (skipped): no compositor or no accessibility bus here
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] || [ "${SONIVERT_ATSPI_BUS:-}" != 1 ]; then
  command -v dbus-run-session >/dev/null || { echo "SKIP: no dbus-run-session"; exit 77; }
  exec env SONIVERT_ATSPI_BUS=1 dbus-run-session -- bash "$0" "$@"
fi
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] && /usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
  { echo "SKIP: no accessibility bus (at-spi2-core, python3-pyatspi)"; exit 77; }
source "$here/weston.sh"
"$launcher" --launch-immediately >/dev/null 2>&1 &
pids+=($!)
mkdir -p "$run/home/sonivert" "$run/music"
: > "$run/music/tone.wav"
printf '#sonivert-registry 1\n[SOFTWARE\\Sonivert]\nSourceDir=sz:"%s/"\n#end\n' "$run/music" \
  > "$run/home/sonivert/registry.reg"
start_sonivert "$1" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# A reader that asked before the accessibility bus was ready keeps that failure: each try is a
# process of its own, five of them, up to half a minute in all.
for try in 1 2 3 4 5; do
  out=$(/usr/bin/python3 "$here/atspi_read.py" tone.wav 2>&1) && { echo "$out"; exit 0; }
done
echo "$out" >&2
tail -n 20 "$run/app.err" >&2
exit 1
