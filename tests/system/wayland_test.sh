#!/usr/bin/env bash
# The real program under a headless Wayland compositor (weston): its main window is mapped, the
# splash opens over it as its child (a transient window, as every box and dialog of the main
# window is), the splash's timer closes it, and the program runs on, without a warning. What the
# program asks of the compositor and hears back is read from its Wayland protocol log
# (WAYLAND_DEBUG=client), polled until a deadline.
#   wayland_test.sh BIN_DIR        exit 77: weston cannot start here (the test is skipped)
set -uo pipefail
bin=$1
run=$(mktemp -d)
chmod 700 "$run"  # the runtime directory that Wayland clients demand
socket=sonivert-test-$$
weston_pid="" app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null && wait "$weston_pid" 2>/dev/null
  rm -rf "$run"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  echo "--- program's standard error (last lines)" >&2
  tail -n 40 "$run/app.err" >&2 2>/dev/null
  exit 1
}
# Polls a condition every 50 ms until it holds; false after `seconds`.
within() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.05
  done
}
running() { kill -0 "$1" 2>/dev/null; }

command -v weston >/dev/null || fail "weston is not installed (scripts/setup.sh installs it)"
XDG_RUNTIME_DIR=$run weston --backend=headless-backend.so --socket="$socket" --no-config \
  --idle-time=0 >"$run/weston.log" 2>&1 </dev/null &
weston_pid=$!
if ! within 20 test -S "$run/$socket" || ! running "$weston_pid"; then
  echo "SKIP: weston cannot start here:" && tail -n 20 "$run/weston.log"
  exit 77
fi

mkdir -p "$run/config" "$run/data"
env -u DISPLAY XDG_RUNTIME_DIR="$run" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland \
  WAYLAND_DEBUG=client XDG_CONFIG_HOME="$run/config" XDG_DATA_HOME="$run/data" \
  "$bin/sonivert" >"$run/app.out" 2>"$run/app.err" </dev/null &
app_pid=$!
log=$run/app.err

# The ids of the windows, in the order the program makes them: xdg_toplevel ids, and for each the
# wl_surface under it. The first is the main window.
toplevel() { grep -o 'get_toplevel(new id xdg_toplevel@[0-9]*)' "$log" | sed -n "${1}s/.*@\([0-9]*\))/\1/p"; }
# A window is mapped when the compositor configured it, the program acknowledged that and then
# attached a buffer to its surface and committed it.
mapped() {
  local top=$1 xdg surface
  xdg=$(grep -o "xdg_surface@[0-9]*\.get_toplevel(new id xdg_toplevel@$top)" "$log" | sed 's/xdg_surface@\([0-9]*\).*/\1/')
  surface=$(grep -o "get_xdg_surface(new id xdg_surface@$xdg, wl_surface@[0-9]*)" "$log" | sed 's/.*wl_surface@\([0-9]*\))/\1/')
  [ -n "$surface" ] && awk -v ack="xdg_surface@$xdg.ack_configure(" -v attach="wl_surface@$surface.attach(wl_buffer@" \
    -v commit="wl_surface@$surface.commit()" \
    'index($0, ack) {a = 1} a && index($0, attach) {b = 1} b && index($0, commit) {found = 1; exit} END {exit !found}' "$log"
}
main_mapped() { main=$(toplevel 1) && [ -n "$main" ] && mapped "$main"; }
splash_mapped() {
  splash=$(toplevel 2) && [ -n "$splash" ] && grep -q "xdg_toplevel@$splash.set_parent(xdg_toplevel@$main)" "$log" &&
    mapped "$splash"
}
splash_closed() { grep -q " -> xdg_toplevel@$splash.destroy()" "$log"; }

within 30 main_mapped || { running "$app_pid" || fail "sonivert ended"; fail "the main window was not mapped"; }
grep -q "xdg_toplevel@$main.set_title(\"Sonivert\")" "$log" || fail "the main window has another title"
within 30 splash_mapped || fail "the splash did not open as a child of the main window"
within 30 splash_closed || fail "the splash's timer did not close it"
running "$app_pid" || fail "sonivert ended after the splash"
grep -q " -> xdg_toplevel@$main.destroy()" "$log" && fail "the main window was closed"
# Everything on standard error is the protocol log ("[time] ..."): Qt had nothing to warn of.
warnings=$(grep -v '^\[' "$log" | grep -v '^$')
[ -z "$warnings" ] || fail "warnings: $warnings"
echo "main window mapped, splash over it opened and closed by its timer, no warning"
