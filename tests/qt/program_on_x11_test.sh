#!/usr/bin/env bash
# The real program on a real X server (Xvfb), typed at with real key events: lines reach the
# simulated device, Left Ctrl + Enter holds back the line feed and Right Ctrl + Enter does not,
# an unquoted program path with a blank works, and closing the window as a window manager does
# ends the program with exit code 0.
# Arguments: the terminal, the simulated device, the window closer.
set -euo pipefail
terminal=$1
simdevice=$2
close_window=$3

work=$(mktemp -d /tmp/varnoth_x11_XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -f "$work/received.bin" ]; then
    echo "--- received by the device:" >&2
    od -c "$work/received.bin" >&2
  fi
  for log in "$work"/*.log; do
    echo "--- $log" >&2
    cat "$log" >&2
  done
  exit 1
}

# Polls a condition: what a loaded machine takes is not a failure, a condition never met is.
wait_for() {
  local deadline=$((SECONDS + 30))
  until eval "$1"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$2"
    sleep 0.1
  done
}

# Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for '[ -s "$work/display" ]' "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

mkdir "$work/ports"
"$simdevice" --link "$work/ports/com1" --record "$work/received.bin" >"$work/device.log" &
pids+=($!)
wait_for 'grep -q ready "$work/device.log"' "the simulated device did not start"

printf '10 PRINT "HELLO"\r\n20 GOTO 10\r\n' >"$work/my program.txt"
VARNOTH_PORTS_DIR="$work/ports" QT_QPA_PLATFORM=xcb \
  "$terminal" "$work/my" "program.txt" >"$work/terminal.log" 2>&1 &
terminal_pid=$!

window=$(timeout 30 xdotool search --sync --name '^Varnoth serial terminal$' | head -n 1) ||
  fail "no window"
[ -n "$window" ] || fail "no window"
# Without a window manager nothing gives the new window the keyboard.
timeout 30 xdotool windowfocus --sync "$window" || fail "the window did not take the focus"

# Keycodes of Xvfb's standard keymap: 37 is Control_L, 105 Control_R. Naming the keysym
# Control_R would make xdotool press Control_L with it, as the first key of the Control
# modifier.
xdotool type --delay 5 "open 1"
xdotool key Return
xdotool type --delay 5 "left"
xdotool keydown 37 key Return keyup 37
xdotool type --delay 5 "right"
xdotool keydown 105 key Return keyup 105
xdotool type --delay 5 "rp!"
xdotool key Return

printf 'leftright\n10 PRINT "HELLO"\n20 GOTO 10\n' >"$work/expected.bin"
wait_for 'cmp -s "$work/expected.bin" "$work/received.bin"' "the device did not receive the lines"

"$close_window" "$window" || fail "could not send WM_DELETE_WINDOW"
wait_for '! kill -0 "$terminal_pid" 2>/dev/null' "the program did not end after its window closed"
status=0
wait "$terminal_pid" || status=$?
[ "$status" -eq 0 ] || fail "exit code $status after closing the window"
echo "PASS"
