#!/usr/bin/env bash
# The real program under a headless Wayland compositor (weston): its main window is mapped, the
# splash opens over it as its child (a transient window, as every box and dialog is made), the
# splash's timer closes it, and the program runs on without a warning. What the program asks of
# the compositor is read from its Wayland protocol log (WAYLAND_DEBUG), polled up to a deadline.
#   wayland_test.sh BIN_DIR        exit 77 (skipped): weston cannot start here
set -uo pipefail
source "$(dirname "$0")/weston.sh"
log=$run/app.err
fail() { echo "FAIL: $*" >&2 && tail -n 30 "$log" >&2 && exit 1; }
# Polls the condition every 50 ms for up to 30 s.
within() { local end=$((SECONDS + 30)); until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.05; done; }
running() { kill -0 "$1" 2>/dev/null; }

start_sonivert "$1" WAYLAND_DEBUG=client

# The n-th toplevel window the program made, and whether it is mapped: the compositor configured
# it, the program acknowledged that, then attached a buffer to the window's surface and committed.
toplevel() { grep -o 'get_toplevel(new id xdg_toplevel@[0-9]*' "$log" | sed -n "$1s/.*@//p"; }
mapped() {
  local xdg surface
  xdg=$(grep -o "xdg_surface@[0-9]*\.get_toplevel(new id xdg_toplevel@$1)" "$log" | sed 's/\..*//')
  surface=$(grep -o "new id $xdg, wl_surface@[0-9]*" "$log" | sed 's/.*, //')
  [ -n "$surface" ] && sed -n "/$xdg\.ack_configure(/,\$p" "$log" | sed -n "/$surface\.attach(wl_buffer/,\$p" |
    grep -q "$surface\.commit()"
}
main_mapped() { main=$(toplevel 1) && [ -n "$main" ] && mapped "$main"; }
splash_over_main() { splash=$(toplevel 2) && [ -n "$splash" ] && mapped "$splash" &&
  grep -q "xdg_toplevel@$splash\.set_parent(xdg_toplevel@$main)" "$log"; }

within main_mapped || fail "the main window was not mapped"
grep -q "xdg_toplevel@$main\.set_title(\"Sonivert\")" "$log" || fail "the main window has another title"
within splash_over_main || fail "the splash did not open as a child of the main window"
within grep -q "> xdg_toplevel@$splash\.destroy()" "$log" || fail "the splash's timer did not close it"
running $app_pid && ! grep -q "> xdg_toplevel@$main\.destroy()" "$log" || fail "the main window went"
# Everything else on standard error would be Qt's warnings.
[ -z "$(grep -v '^\[' "$log" | grep -v '^$')" ] || fail "warnings"
