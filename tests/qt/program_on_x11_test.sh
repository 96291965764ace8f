#!/usr/bin/env bash
# The real program on a real X server (Xvfb), typed at with real key events: lines reach the
# simulated device, Left Ctrl + Enter holds back the line feed and Right Ctrl + Enter does not,
# an unquoted program path with a blank works, and closing the window as a window manager does
# ends the program with exit code 0.
# Arguments: the terminal, the simulated device, the window closer.
set -euo pipefail
terminal=$1 simdevice=$2 close_window=$3
work=$(mktemp -d /tmp/varnoth_x11_XXXXXX)
source "$(dirname "$0")/../../tools/xvfb-session.sh"

fail() {
  echo "FAIL: $*" >&2
  [ ! -f "$work/received.bin" ] || od -c "$work/received.bin" >&2
  tail -n +1 "$work"/*.log >&2
  exit 1
}

mkdir "$work/ports"
"$simdevice" --link "$work/ports/com1" --record "$work/received.bin" >"$work/device.log" &
session_pids+=($!)
wait_for 'grep -q ready "$work/device.log"' || fail "the simulated device did not start"

printf '10 PRINT "HELLO"\r\n20 GOTO 10\r\n' >"$work/my program.txt"
VARNOTH_PORTS_DIR="$work/ports" QT_QPA_PLATFORM=xcb \
  "$terminal" "$work/my" "program.txt" >"$work/terminal.log" 2>&1 &
terminal_pid=$!
session_pids+=($terminal_pid)

window=$(timeout 30 xdotool search --sync --name '^Varnoth serial terminal$' | head -n 1)
[ -n "$window" ] || fail "no window"
# Without a window manager nothing gives the new window the keyboard.
timeout 30 xdotool windowfocus --sync "$window" || fail "the window did not take the focus"

# Types a line and Enter, with the key of X keycode $2 held. Keycodes of Xvfb's standard keymap:
# 37 is Control_L, 105 Control_R. Naming the keysym Control_R would make xdotool press
# Control_L with it, as the first key of the Control modifier.
type_line() { # TEXT [KEYCODE]
  xdotool type --delay 5 "$1"
  xdotool ${2:+keydown $2} key Return ${2:+keyup $2}
}
type_line "open 1"
type_line left 37
type_line right 105
type_line "rp!"
printf 'leftright\n10 PRINT "HELLO"\n20 GOTO 10\n' >"$work/expected.bin"
wait_for 'cmp -s "$work/expected.bin" "$work/received.bin"' ||
  fail "the device did not receive the lines"

"$close_window" "$window" || fail "could not send WM_DELETE_WINDOW"
wait_for '! kill -0 "$terminal_pid" 2>/dev/null' ||
  fail "the program did not end after its window closed"
status=0
wait "$terminal_pid" || status=$?
[ "$status" -eq 0 ] || fail "exit code $status after closing the window"
echo PASS
