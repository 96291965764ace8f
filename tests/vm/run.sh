#!/usr/bin/env bash
# The Linux programs on real kernel serial drivers (ftdi_sio, 8250, udev) in one boot of the
# virtual machine of tests/vm/machine.sh: how ports are numbered, the line settings the driver
# ends up with, uploads and detection, uploads to all three ports at once, permissions, the text
# console from a pipe, and an adapter pulled out and plugged back.
# Usage: tests/vm/run.sh [BUILD] (default build/dev). Closes with "N passed, M failed".
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:-build/dev}")
tools/install-packages.sh qemu-system-x86 busybox-static udev kmod cpio python3 xvfb xdotool xclip

simdevice=$build/tools/varnoth-simdevice
upload=$build/shell/upload/varnoth-upload
terminal=$build/shell/qt/varnoth-terminal
work=$(mktemp -d /tmp/varnoth-vm-XXXXXX)
source tests/vm/machine.sh

passed=0
failed=0
check() { # NAME CONDITION...
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1)) && echo "ok      $name"
  else
    failed=$((failed + 1)) && echo "FAILED  $name"
  fi
}
has() { [[ "$1" == *"$2"* ]]; }
# Bytes a device received since its record had `since` bytes.
received_since() { tail -c +$(($2 + 1)) "$(record "$1")"; }
received_is() { cmp -s <(received_since "$1" "$2") <(printf "$3"); } # NAME SINCE TEXT
size() { stat -c %s "$(record "$1")"; }

started=$SECONDS
vm_start
echo "booted in $((SECONDS - started)) s"
share_file() { printf "$2" >"$share/$1" && echo "$share/$1"; }
three=$(share_file three.txt 'A\r\nB\r\nC\r\n')
# Ten lines a second: long enough to pull the cable in the middle.
long=$share/long.txt
seq 1 300 | sed 's/^/line /' >"$long"
as_user() { echo "setpriv --reuid=$1 --regid=$1 $2 --"; } # UID GROUP-OPTIONS
dialout=$(getent group dialout | cut -d: -f3)
dialout_user=$(as_user 1000 "--groups $dialout")

# ---- numbering: adapters by their by-id names, then the UARTs that have a chip ----
table=$(guest "'$terminal' --list-ports")
rows=$(grep -E '^ +[0-9]' <<<"$table" | awk '{print $1, $2, $3}' | tr '\n' ';')
check "ports: adapters in by-id order, then UARTs with a chip only" [ "$rows" = \
  "1 /dev/ttyUSB1 usb-QEMU_QEMU_USB_SERIAL_A1-if00-port0;2 /dev/ttyUSB0 usb-QEMU_QEMU_USB_SERIAL_B2-if00-port0;3 /dev/ttyS0 -;4 /dev/ttyS1 -;" ]

# ---- line settings and uploads, over ftdi_sio and over 8250 ----
# Another program left the line in a state none of our settings share.
dirty="stty 115200 cs7 parenb parodd cstopb crtscts -clocal ixon ixoff icanon echo icrnl opost"
settings_after_upload() { # PORT DEVICE DEVICE-NAME
  local before output
  before=$(size "$3")
  output=$(guest "$dirty -F $2 && '$upload' --port $1 '$three' && stty -F $2 -a") || true
  has "$output" "went out to its end: 3 lines" && received_is "$3" "$before" 'A\nB\nC\n' &&
    has "$output" "speed 9600 baud;" &&
    for flag in cs8 -parenb -cstopb -crtscts -ixon -ixoff -icanon -echo -icrnl -opost -isig clocal cread; do
      tr ' ' '\n' <<<"$output" | grep -qx -- "$flag" || { echo "$2: not $flag"; return 1; }
    done &&
    # The host's end of the line sees the speed and the stop bits the driver was given.
    has "$(stty -F "$(host_pty "$3")" -a)" "speed 9600 baud;" && has "$(stty -F "$(host_pty "$3")" -a)" "-cstopb"
}
check "ttyUSB: upload arrives whole; line raw 9600 8N1, no flow control, on both ends" \
  settings_after_upload 1 /dev/ttyUSB1 silent
check "ttyS: the same over a 16550" settings_after_upload 3 /dev/ttyS0 uart
# A fast upload over the real drivers: each line as soon as its answer is in, all of them.
fast_upload() { # PORT DEVICE-NAME
  local before
  before=$(size "$2")
  guest "'$upload' --fast --quiet --port $1 '$long' >/dev/null" && cmp -s <(received_since "$2" "$before") "$long"
}
check "ttyUSB: a fast upload arrives whole" fast_upload 1 silent
check "ttyS: a fast upload arrives whole" fast_upload 3 uart

# The device's identification, asked for by another program, waits in the driver while a
# third program still holds the port open (as a serial monitor or ModemManager may): taken
# for answers, its letters would make the upload give up on line 1.
stale_answer() {
  local output
  output=$(guest "stty -F /dev/ttyUSB0 raw -echo && { sleep 30 </dev/ttyUSB0 & holder=\$!; } &&
    printf 'id\n' >/dev/ttyUSB0 && sleep 0.5 && '$upload' --port 2 '$three'; echo status \$?
    kill \$holder") || true
  has "$output" "went out to its end: 3 lines" && has "$output" "status 0" || { echo "$output"; return 1; }
}
check "ttyUSB: what the device sent before the open is not taken for answers" stale_answer

detection() {
  local silent_before talker_before output
  silent_before=$(size silent) talker_before=$(size talker)
  output=$(guest "'$upload' '$three'") &&
    received_is silent "$silent_before" 'id\n' && received_is talker "$talker_before" 'id\nA\nB\nC\n' ||
    { echo "$output"; return 1; }
}
check "detection passes over the silent adapter and uploads to the one that answers" detection

# ---- both adapters and the UART at once ----
many_at_once() {
  local silent_before talker_before uart_before output
  silent_before=$(size silent) talker_before=$(size talker) uart_before=$(size uart)
  output=$(guest "'$upload' --fast --port 1 --port 2 --port 3 '$long'; echo status \$?") &&
    has "$output" "status 0" && cmp -s <(received_since silent "$silent_before") "$long" &&
    cmp -s <(received_since talker "$talker_before") "$long" &&
    cmp -s <(received_since uart "$uart_before") "$long" || { echo "$output"; return 1; }
}
check "three ports at once: each device receives the whole file" many_at_once
# At the usual pace, ten lines a second: one adapter pulled out half-way, the others go on.
silent_before=$(size silent) talker_before=$(size talker) uart_before=$(size uart)
guest "('$upload' --port 1 --port 2 --port 3 '$long' >'$share/many.out' 2>&1; echo \$? >'$share/many.status') &" >/dev/null
wait_for '[ "$(received_since silent "$silent_before" | wc -l)" -ge 100 ]' 60 || true
unplug silent
wait_for '[ -f "$share/many.status" ]' 90 || true
others_finish() {
  [ "$(cat "$share/many.status" 2>/dev/null)" = 7 ] &&
    grep -q '^   1  ttyUSB1 .* the device went away at line [0-9]* of 300; port 1 is closed' "$share/many.out" &&
    grep -q '^   2  ttyUSB0 .* went out to its end: 300 lines' "$share/many.out" &&
    grep -q '^   3  ttyS0 .* went out to its end: 300 lines' "$share/many.out" &&
    cmp -s <(received_since talker "$talker_before") "$long" &&
    cmp -s <(received_since uart "$uart_before") "$long" || { cat "$share/many.out"; return 1; }
}
check "three ports at once, one adapter pulled half-way: it is said, the other two finish, exit status 7" \
  others_finish
plug silent

# ---- permissions ----
output=$(guest "$(as_user 1000 --clear-groups) '$upload' --port 1 '$three'; echo status \$?")
check "outside dialout: permission denied, with the fix, and exit status 4" has "$output" \
  $'/dev/ttyUSB1: permission denied; sudo usermod -aG dialout $USER, then log out and in again\nstatus 4'
# A long upload stays running for the cases below; uid 1000 is in dialout now.
before=$(size silent)
guest "($dialout_user '$upload' --port 1 '$long' >'$share/long.out' 2>&1; echo \$? >'$share/long.status') &" >/dev/null
check "inside dialout: the upload runs" wait_for '[ "$(received_since silent "$before" | wc -l)" -ge 5 ]' 60
output=$(guest "$(as_user 1001 "--groups $dialout") '$upload' --port 1 '$three'; echo status \$?")
check "a second user's program on the same port is told it is in use" \
  has "$output" "/dev/ttyUSB1: in use by another program"

# ---- the adapter pulled out in the middle of the upload, then plugged back ----
lines_before=$(received_since silent "$before" | wc -l)
pulled=$SECONDS
unplug silent
wait_for '[ -f "$share/long.status" ]' 60 || true
echo "upload after the unplug (line $lines_before of 300 was out; ended $((SECONDS - pulled)) s later):"
cat "$share/long.out" 2>/dev/null | tr '\r' '\n' | tail -n 2
ended_as_gone() {
  grep -q "the device went away at line [0-9]* of 300; port 1 is closed" "$share/long.out" &&
    [ "$(cat "$share/long.status" 2>/dev/null)" = 6 ]
}
check "unplugged mid-upload: the upload ends at once, saying so, with exit status 6" ended_as_gone
check "unplugged: the adapter is gone from the table" \
  [ -z "$(guest "'$terminal' --list-ports" | grep SERIAL_A1)" ]
plug silent
table=$(guest "'$terminal' --list-ports")
check "plugged back: the adapter has its number again" has "$table" \
  "   1  /dev/ttyUSB1  usb-QEMU_QEMU_USB_SERIAL_A1-if00-port0"
before=$(size silent)
output=$(guest "'$upload' --port 1 '$three'") || true
check "plugged back: an upload reaches the device" received_is silent "$before" 'A\nB\nC\n'

# ---- the text console from a pipe: the lines run as typed, the device's answer on stdout ----
console_from_pipe() {
  local output
  output=$(guest "printf 'open 2\nid\n' | '$terminal' --console 2>'$share/console.err'; echo status \$?")
  [ "$output" = $'TELK7 simulated device\nstatus 0' ] &&
    grep -qx "connected to port 2" "$share/console.err" ||
    { echo "$output" && cat "$share/console.err"; return 1; }
}
check "console from a pipe: open 2 and id, the device's answer on standard output" console_from_pipe

# ---- the window program: a typed line reaches the device, the device's reply the pane ----
# It runs in the machine on a virtual X server of its own; the pane is read back through the
# clipboard, as a user would copy it.
window_start() {
  guest "Xvfb :7 -screen 0 1024x768x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
    for i in \$(seq 300); do [ -S /tmp/.X11-unix/X7 ] && break; sleep 0.1; done
    export DISPLAY=:7 QT_QPA_PLATFORM=xcb
    '$terminal' >'$share/terminal.log' 2>&1 &
    timeout 60 xdotool search --sync --name '^Varnoth serial terminal\$' | head -n 1 >'$share/window'"
}
in_window() { # SCRIPT, with \$w the window
  guest "export DISPLAY=:7; w=\$(cat '$share/window'); xdotool windowfocus --sync \$w; $1"
}
type_line() { in_window "xdotool type -- '$1'; xdotool key Return" >/dev/null; }
pane() {
  in_window "xdotool mousemove --window \$w 100 100 click 1 key ctrl+a key ctrl+c; sleep 0.3
    xclip -o -selection clipboard"
}
pane_shows() {
  local wanted=$1
  wait_for '[[ "$(pane)" == *"$wanted"* ]]' 30 || { echo "the pane shows:"; pane; return 1; }
}

window_start
type_line "open 2"
before=$(size talker)
type_line "hello"
check "window: a typed line reaches the device" wait_for 'received_is talker "$before" "hello\n"' 30
check "window: open 2 connects, and the device's answer reaches the pane" \
  pane_shows $'connected to port 2\n+'

# ---- the window's adapter pulled out while idle, then plugged back ----
unplug talker
check "window: a pulled adapter is said at once" pane_shows "port 2 lost: the device went away"
# Clock ticks of CPU the program spends over three seconds while it waits for the adapter;
# a link that spun on the vanished device would spend them all.
cpu=$(guest 'pid=$(pidof varnoth-terminal); cpu() { awk "{print \$14 + \$15}" /proc/$pid/stat; }
  before=$(cpu); sleep 3; echo $(($(cpu) - before)) $(getconf CLK_TCK)')
echo "CPU while the adapter was away: $cpu (clock ticks in 3 s, ticks a second)"
check "window: waiting for the adapter costs next to no CPU" [ "${cpu% *}" -lt "${cpu#* }" ]
# The other adapter replugged meanwhile takes the kernel's name that this one had.
unplug silent
plug silent
plug talker
check "window: the adapter is found again by its persistent name, under another device name" \
  pane_shows "reconnected to port 2"
before=$(size talker)
type_line "again"
check "window: a typed line reaches the reconnected device" \
  wait_for 'received_is talker "$before" "again\n"' 30

echo "the virtual machine's cases took $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
