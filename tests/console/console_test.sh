#!/usr/bin/env bash
# The text console in a real terminal emulator (tmux) against the simulated device: an escape
# sequence from the device shown and not obeyed; an upload's progress in the status line while
# its answers scroll above a half-typed line that stays whole; history and Alt+Enter; a resize;
# a lost device and its return; Ctrl+Z and fg; Ctrl+C twice and SIGTERM, after each of which the
# terminal is as it was and the port free. Then from a pipe: the identification and an upload.
# Arguments: the terminal, the simulated device.
set -euo pipefail
terminal=$1 simdevice=$2
work=$(mktemp -d /tmp/varnoth_console_XXXXXX)
source "$(dirname "$0")/../../tools/script-session.sh"
tm() { tmux -S "$work/tmux" "$@"; }
screen() { tm capture-pane -p; }
fail() {
  echo "FAIL: $*" >&2
  screen >&2 || true
  for record in "$work"/*.bin; do echo "$record:" && od -c "$record" | tail -n 4; done >&2
  exit 1
}
shows() {
  local wanted=$1
  wait_for '[[ "$(screen)" == *"$wanted"* ]]' || fail "the screen never showed: $wanted"
}
row() { screen | sed -n "$1p"; }
input_row() { screen | tail -n 1; }
# Whether the device's record ends with TEXT (printf's escapes expanded), byte for byte.
received_ends() { cmp -s <(tail -c "$(printf "$2" | wc -c)" "$work/$1.bin") <(printf "$2"); }
device() { # NAME OPTIONS...
  local name=$1
  shift
  "$simdevice" --link "$work/$name" --record "$work/$name.bin" "$@" >"$work/$name.log" 2>&1 &
  session_pids+=($!)
  wait_for "grep -q ready '$work/$name.log'" || fail "the simulated device $name did not start"
}
# What the user's terminal keeps that a program may change: the line discipline's modes, and as
# tmux keeps them the scroll region (its distance from the top and the bottom, whatever the
# size), the alternate screen, the cursor's visibility, the keypad and cursor-key modes,
# wrapping, insert and origin modes and mouse reporting.
terminal_state() {
  local upper lower height flags
  stty -F "$tty" -g
  read -r upper lower height flags <<<"$(tm display -p '#{scroll_region_upper}
    #{scroll_region_lower} #{pane_height} #{alternate_on} #{cursor_flag} #{keypad_cursor_flag}
    #{keypad_flag} #{wrap_flag} #{insert_flag} #{origin_flag} #{mouse_any_flag}' | tr '\n' ' ')"
  echo "region $upper $((height - 1 - lower)) $flags"
}
ended_as_it_was() { # HOW
  wait_for '[ "$(tm display -p "#{pane_current_command}")" = bash ]' ||
    fail "the console did not end after $1"
  [ "$(terminal_state)" = "$before" ] || fail "after $1 the terminal is not as it was: $(terminal_state)"
}

# The identification asks the terminal to retitle itself, report its cursor and turn red; and
# holds a C1 control byte (CSI), which a terminal in UTF-8 may also obey as U+009B.
device com1 --delay 100 --id $'\e]2;pwned\a\e[6n\e[31mTELK7 \x9b\n'
device com2 --hangup-after-lines 1
seq 1 30 | sed 's/^/line /' >"$work/blink.txt"

tm -f /dev/null new-session -d -x 60 -y 12 -e VARNOTH_PORTS_DIR="$work" -e LC_ALL=C.UTF-8 \
  "bash --norc --noprofile" \; set-option -g status off
session_pids+=("$(tm display -p '#{pid}')")
tty=$(tm display -p '#{pane_tty}')
tm send-keys "PS1='$ '" Enter
before=$(terminal_state)
tm send-keys "'$terminal' --console '$work/blink.txt'" Enter
shows "Ctrl+D on an empty line"
wait_for '[ "$(input_row)" = "type open 1 to connect to port 1, or open 0 to find the dev" ]' ||
  fail "the empty line did not say what to type"

tm send-keys "open 1" Enter "id" Enter
shows "connected to port 1"
shows "␛]2;pwned␇␛[6n␛[31mTELK7 �"
[ "$(tm display -p '#{pane_title}')" != pwned ] || fail "the device's text retitled the terminal"

tm send-keys "rp!" Enter
wait_for '[[ "$(row 11)" =~ ^blink.txt:\ line\ [0-9]+\ of\ 30\ -\ Varnoth ]]' ||
  fail "the status line showed no upload's progress"
tm send-keys "half"
shows "blink.txt went out to its end: 30 lines"
shows "$(printf '+%.0s' {1..30})"
[ "$(input_row)" = half ] || fail "the half-typed line did not stay whole under the device's text"
tm send-keys " done" Enter
wait_for 'received_ends com1 "line 30\nhalf done\n"' || fail "the typed line did not reach the device"

# Up goes back through the lines entered, Down comes forward again.
tm send-keys Up Up Up
wait_for '[ "$(input_row)" = id ]' || fail "Up did not bring back the line before the upload's"
tm send-keys Down
wait_for '[ "$(input_row)" = "rp!" ]' || fail "Down did not come forward"
tm send-keys Up Enter "bare" M-Enter
wait_for 'received_ends com1 "half done\nid\nbare"' || fail "Alt+Enter sent the line feed"

tm resize-window -x 40 -y 8
wait_for '[[ "$(row 7)" == "port 1 (pts/"* ]] && [ "$(screen | wc -l)" = 8 ]' ||
  fail "the screen was not drawn for its new size"

tm send-keys "open 2" Enter "x" Enter
shows "port 2 lost: the device went away"
shows "port 2 lost, waiting for it"
device com2
shows "reconnected to port 2"
wait_for '[[ "$(row 7)" == "port 2 (pts/"* ]]' || fail "the status line did not show the port back"

tm send-keys C-z
shows "Stopped"
[ "$(terminal_state)" = "$before" ] || fail "suspended, the terminal is not as it was"
tm send-keys "fg" Enter
shows "reconnected to port 2"
wait_for '[[ "$(row 7)" == "port 2 (pts/"* ]]' || fail "fg did not draw the screen again"

tm send-keys "junk" C-c
# The empty line says what the window's says.
wait_for '[[ "$(input_row)" == "a line typed here goes to the device"* ]]' ||
  fail "Ctrl+C did not empty the line"
tm send-keys C-c
ended_as_it_was "Ctrl+C twice"
! port_held "$work/com2" || fail "the port was left held after quitting"

tm send-keys "'$terminal' --console" Enter
shows "Ctrl+D on an empty line"
tm send-keys "open 1" Enter
shows "connected to port 1"
kill -TERM "$(pgrep -P "$(tm display -p '#{pane_pid}')")"
ended_as_it_was "SIGTERM"
! port_held "$work/com1" || fail "the port was left held after SIGTERM"

# From a pipe: the device's text on standard output as the screen shows it, its own line end
# and no other; the terminal's words on standard error; status 0 once all is said and done.
export VARNOTH_PORTS_DIR=$work LC_ALL=C.UTF-8
said=$(printf 'open 1\nid\n' | "$terminal" --console 2>"$work/words") ||
  fail "from a pipe: status $?"
[ "$said" = "␛]2;pwned␇␛[6n␛[31mTELK7 �" ] || fail "from a pipe the identification came as: $said"
grep -qx "connected to port 1" "$work/words" || fail "from a pipe it said: $(cat "$work/words")"
# The identification's answer comes after "id" has gone out: "rp!" must wait for it.
printf 'open 1\nid\nrp!\n' | "$terminal" --console "$work/blink.txt" >/dev/null 2>"$work/words" ||
  fail "uploading from a pipe: status $?"
cmp -s <(tail -c "$(wc -c <"$work/blink.txt")" "$work/com1.bin") "$work/blink.txt" ||
  fail "the upload from a pipe did not arrive whole"
grep -q "^blink.txt went out to its end: 30 lines in" "$work/words" ||
  fail "uploading from a pipe it said: $(cat "$work/words")"
echo PASS
