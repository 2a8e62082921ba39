# Sourced by the system tests that run the real program under a headless Wayland compositor: a
# private runtime folder ($run, with the program's home in $run/home), weston on a socket of its
# own (exit 77, skipped, when it cannot start here), and `start_sonivert BIN [VAR=VALUE ...]`,
# which starts the program there with its standard error in $run/app.err and its pid in
# $app_pid. Whatever was started ends with the test, and the folder goes.
run=$(mktemp -d) socket=sonivert-test-$$ pids=() app_pid=""
chmod 700 "$run"  # as Wayland clients demand of their runtime directory
mkdir -p "$run/home"
trap 'kill "${pids[@]}" 2>/dev/null; wait; rm -rf "$run"' EXIT
command -v weston >/dev/null || { echo "FAIL: no weston (scripts/setup.sh installs it)" >&2; exit 1; }
XDG_RUNTIME_DIR=$run weston --backend=headless-backend.so --socket="$socket" --no-config --idle-time=0 \
  >"$run/weston.log" 2>&1 </dev/null &
pids+=($!)
weston_end=$((SECONDS + 30))
until [ -S "$run/$socket" ] && kill -0 "${pids[0]}" 2>/dev/null; do
  [ $SECONDS -lt $weston_end ] && kill -0 "${pids[0]}" 2>/dev/null ||
    { echo "SKIP: weston cannot start"; cat "$run/weston.log"; exit 77; }
  sleep 0.05
done
start_sonivert() {
  local bin=$1
  shift
  env -u DISPLAY HOME="$run/home" XDG_CONFIG_HOME="$run/home" XDG_DATA_HOME="$run/home" XDG_RUNTIME_DIR="$run" \
    WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland "$@" "$bin/sonivert" >/dev/null 2>"$run/app.err" </dev/null &
  app_pid=$!
  pids+=($app_pid)
}
