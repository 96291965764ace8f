#!/usr/bin/env bash
# Makes docs/screenshot.png: the window on a virtual X server (Xvfb), framed by a window manager
# so that its title shows, after "open 1", "id" and "rp!" against the simulated device, typed
# with real key events.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh cmake make g++ libgtest-dev qt6-base-dev libedit-dev libncurses-dev \
  pkg-config xvfb xdotool imagemagick fonts-dejavu-core openbox
cmake --preset dev
cmake --build --preset dev -j "$(nproc)" --target varnoth-terminal varnoth-simdevice

work=$(mktemp -d /tmp/varnoth-screenshot-XXXXXX)
source tools/xvfb-session.sh
fail() {
  echo "screenshot: $*" >&2
  exit 1
}

openbox >"$work/openbox.log" 2>&1 &
session_pids+=($!)

mkdir "$work/ports"
build/dev/tools/varnoth-simdevice --link "$work/ports/com1" --record "$work/received.bin" \
  >"$work/device.log" &
session_pids+=($!)
wait_for 'grep -q "^ready" "$work/device.log"' || fail "the simulated device did not start"

VARNOTH_PORTS_DIR="$work/ports" QT_QPA_PLATFORM=xcb build/dev/shell/qt/varnoth-terminal \
  "$PWD/tools/sample-program.txt" >"$work/terminal.log" 2>&1 &
session_pids+=($!)
window=$(timeout 30 xdotool search --sync --name '^Varnoth serial terminal$' | head -n 1)
timeout 30 xdotool windowactivate --sync "$window"

for line in "open 1" "id" "rp!"; do
  xdotool type --delay 20 "$line"
  xdotool key Return
  sleep 0.5
done
{ printf 'id\n'; cat tools/sample-program.txt; } >"$work/expected.bin"
wait_for 'cmp -s "$work/expected.bin" "$work/received.bin"' ||
  fail "the device did not get the program"
# The title says how the upload ended once the last answer is in.
wait_for "xdotool getwindowname $window | grep -q 'went out to its end'" ||
  fail "the title does not show the upload's end"

mkdir -p docs
import -frame -window "$window" docs/screenshot.png
echo "Wrote docs/screenshot.png"
