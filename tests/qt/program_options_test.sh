#!/usr/bin/env bash
# The Linux program's options, answered without a display: --version, --help, --list-ports on
# a fake device tree (VARNOTH_DEVICE_ROOT) beside a ports folder; after "--" a word is no option,
# and without a display the program says so and runs the text console; a usage error is one
# line; varnoth-upload --list-ports prints the same table. Run on the built programs by ctest, on
# the installed ones by package_test.sh. Arguments: the terminal and upload programs.
set -euo pipefail
terminal=$1
upload=$2
work=$(mktemp -d /tmp/varnoth_options_XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2 && exit 1; }
run() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM VARNOTH_DEVICE_ROOT="$work/root" \
    VARNOTH_PORTS_DIR="${ports-$work/ports}" "${program-$terminal}" "$@"
}

run --version | grep -qxE 'varnoth-terminal [0-9]+\.[0-9]+\.[0-9]+' || fail "--version"
run --help | grep -q -- '--list-ports' || fail "--help"
# Options come first: after the path's first word a word is part of it, and with it the program
# goes for its window, finds no display here, says so in a line and runs the text console,
# which reads its lines (none) from the input.
status=0
said=$(ulimit -c 0 && run my --version 2>&1 </dev/null) || status=$?
[ "$status" -eq 0 ] || fail "without a display: status $status, not 0"
[ "$said" = "varnoth-terminal: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); the terminal runs in the text console instead" ] ||
  fail "without a display it said: $said"
status=0
said=$(run --no-such-option 2>&1) || status=$?
[ "$status" -eq 2 ] && [ "$said" = $'varnoth-terminal: unknown option --no-such-option\nvarnoth-terminal --help for more' ] ||
  fail "a usage error: status $status, and it said: $said"
mkdir -p "$work/root/dev/serial/by-id" "$work/root/sys/class/tty" "$work/ports"
# Without its variable the ports folder is under XDG_CONFIG_HOME, else under ~/.config.
none="No serial ports found: plug in an adapter, or link a device as"
run --list-ports | grep -qF "$none $work/ports/com1." || fail "--list-ports without devices"
ports="" XDG_CONFIG_HOME=/config run --list-ports | grep -qF "$none /config/varnoth/ports/" ||
  fail "the ports folder under XDG_CONFIG_HOME"
ports="" XDG_CONFIG_HOME="" HOME=/home/user run --list-ports |
  grep -qF "$none /home/user/.config/varnoth/ports/" || fail "the ports folder under ~/.config"

# Two adapters; port 2 is taken by a ports-folder entry, so the second adapter gets no number.
for tty in ttyUSB0 ttyACM0; do
  mkdir -p "$work/root/sys/class/tty/$tty/device"
  ln -s /dev/null "$work/root/dev/$tty"
done
ln -s ../../ttyACM0 "$work/root/dev/serial/by-id/usb-Varnoth_Board_0001-if00"
ln -s ../../ttyUSB0 "$work/root/dev/serial/by-id/usb-Varnoth_Cable_0002-if00-port0"
ln -s /dev/pts/9 "$work/ports/com2"
table=$(run --list-ports)
expect() { # LINE-PATTERN DESCRIPTION
  grep -qE "$1" <<<"$table" || fail "--list-ports: $2; it printed:"$'\n'"$table"
}
expect "^ +1  $work/root/dev/ttyACM0 +usb-Varnoth_Board_0001-if00 +system\$" "port 1 is the board"
expect '^ +2  /dev/pts/9 +- +ports folder$' "port 2 is the ports-folder entry"
expect "^ +-  $work/root/dev/ttyUSB0 +usb-Varnoth_Cable_0002-if00-port0 +system\$" \
  "the cable has no number"
expect "^Ports folder: $work/ports " "the ports folder is named"
[ "$(program=$upload run --list-ports)" = "$table" ] || fail "varnoth-upload --list-ports differs"
echo PASS
