#!/usr/bin/env bash
# The real program on Xvfb, typed at with real key events, as the simulated device sees it: the
# Ctrl keys, keys in the pane, the 255 characters of the input line, "rp!" of a file named in
# words (one empty) after "--", exit code 0 after the window is closed or sent SIGTERM, the port
# free after both, and a log that holds all the pane had shown when the program was killed.
# Arguments: the terminal, the simulated device.
set -euo pipefail
terminal=$1 simdevice=$2
work=$(mktemp -d /tmp/varnoth_x11_XXXXXX)
source "$(dirname "$0")/../../tools/xvfb-session.sh"
fail() {
  echo "FAIL: $*" >&2
  [ ! -f "$work/received.bin" ] || od -c "$work/received.bin" >&2
  tail -n +1 "$work"/*.log >&2
  exit 1
}

"$simdevice" --link "$work/com1" --record "$work/received.bin" >"$work/device.log" &
session_pids+=($!)
wait_for 'grep -q ready "$work/device.log"' || fail "the simulated device did not start"
printf '10 PRINT "HELLO"\r\n20 GOTO 10\r\n' >"$work/my  program.txt"
VARNOTH_PORTS_DIR=$work QT_QPA_PLATFORM=xcb "$terminal" -- "$work/my" "" program.txt \
  >"$work/terminal.log" 2>&1 &
terminal_pid=$!
session_pids+=($terminal_pid)
window=$(timeout 30 xdotool search --sync --name '^Varnoth serial terminal$' | head -n 1) ||
  fail "no window"
# Without a window manager nothing gives the new window the keyboard.
timeout 30 xdotool windowfocus --sync "$window" || fail "the window did not take the focus"

# Keycodes of Xvfb's standard keymap: 37 is Control_L, 105 Control_R. Naming the keysym
# Control_R would make xdotool press Control_L with it, as the first key of the Control modifier.
ks() { printf "%0${1}d" 0 | tr 0 k; }
xdotool type "open 1"
xdotool key Return type left
xdotool keydown 37 key Return keyup 37 type right
xdotool keydown 105 key Return keyup 105 type ab
xdotool mousemove --window "$window" 100 100 click 1 key ctrl+a type c
xdotool click 1 key Return Return type --delay 5 "$(ks 300)"
# A full line takes no more: "a" typed at its start is refused.
xdotool key Home type a
xdotool key Return type "rp!"
xdotool key Return
printf 'leftright\nabc\n%s\n10 PRINT "HELLO"\n20 GOTO 10\n' "$(ks 255)" >"$work/expected.bin"
wait_for 'cmp -s "$work/expected.bin" "$work/received.bin"' || fail "the device received otherwise"

# As a window manager asks when the close box is clicked (there is none here): destroying the
# window from outside would not be a close at all.
/usr/bin/python3 - "$window" <<'EOF' || fail "could not send WM_DELETE_WINDOW"
import sys
from Xlib import X, display, protocol
screen = display.Display()
window = screen.create_resource_object("window", int(sys.argv[1]))
close = [screen.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]
window.send_event(protocol.event.ClientMessage(
    window=window, client_type=screen.intern_atom("WM_PROTOCOLS"), data=(32, close)))
screen.sync()
EOF
ended_with_port_free() { # HOW
  wait_for '! kill -0 "$terminal_pid" 2>/dev/null' || fail "the program did not end after $1"
  status=0
  wait "$terminal_pid" || status=$?
  [ "$status" -eq 0 ] || fail "exit code $status after $1"
  ! port_held "$work/com1" || fail "the port was left held after $1"
}
ended_with_port_free "closing the window"

# SIGTERM ends it as the close box does.
VARNOTH_PORTS_DIR=$work QT_QPA_PLATFORM=xcb "$terminal" >"$work/terminal2.log" 2>&1 &
terminal_pid=$!
session_pids+=($terminal_pid)
window=$(timeout 30 xdotool search --sync --pid "$terminal_pid" --name '^Varnoth serial terminal$' | head -n 1) ||
  fail "no second window"
timeout 30 xdotool windowfocus --sync "$window" || fail "the second window did not take the focus"
before=$(stat -c %s "$work/received.bin")
xdotool type "open 1"
xdotool key Return type "again"
xdotool key Return
wait_for '[ "$(tail -c +$((before + 1)) "$work/received.bin")" = again ]' || fail "the second window did not connect"
kill -TERM "$terminal_pid"
ended_with_port_free "SIGTERM"

# Killed outright, it leaves in its log (--log) every line the pane had shown: each piece went to
# the file as it came. The pane is read back as a user copies it.
"$simdevice" --link "$work/com2" --record "$work/stream.bin" --stream 960 >"$work/stream.log" &
session_pids+=($!)
wait_for 'grep -q ready "$work/stream.log"' || fail "the streaming device did not start"
VARNOTH_PORTS_DIR=$work QT_QPA_PLATFORM=xcb "$terminal" --log "$work/session.log" \
  >"$work/terminal3.log" 2>&1 &
terminal_pid=$!
session_pids+=($terminal_pid)
window=$(timeout 30 xdotool search --sync --pid "$terminal_pid" --name 'Varnoth serial terminal$' | head -n 1) ||
  fail "no third window"
timeout 30 xdotool windowfocus --sync "$window" || fail "the third window did not take the focus"
xdotool type "open 2"
xdotool key Return
# What the device streamed before the port was opened is dropped; what follows shows.
pane() { xdotool mousemove --window "$window" 100 100 click 1 key ctrl+a key ctrl+c; sleep 0.2; xclip -o -selection clipboard; }
wait_for 'pane >"$work/pane.txt"; [ "$(grep -c "stream [0-9]" "$work/pane.txt")" -ge 10 ]' ||
  fail "the stream did not show"
kill -KILL "$terminal_pid"
wait "$terminal_pid" 2>/dev/null || true
# The device's text from its first whole line on, as shown and as logged (escapes undone): what
# was shown, the line it was still showing included, is where the log begins.
python3 - "$work/pane.txt" "$work/session.log" <<'EOF' || fail "the log lacks what the pane had shown"
import sys
shown = open(sys.argv[1], encoding="utf-8").read()
logged = "".join(line.split(" device   ", 1)[1].rstrip("\n").replace("\\n", "\n")
                 for line in open(sys.argv[2], encoding="latin-1") if " device   " in line)
shown = shown[shown.index("stream "):].rstrip("\n")
logged = logged[logged.index(shown[:14]):]
sys.exit(0 if len(shown) > 200 and logged.startswith(shown) else 1)
EOF
echo PASS
