#!/usr/bin/env bash
# Makes docs/screenshot.png: the window on a virtual X server (Xvfb) after "open 1", "id" and
# "rp!" against the simulated device, typed with real key events.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh cmake make g++ libgtest-dev qt6-base-dev xvfb xdotool imagemagick \
  fonts-dejavu-core
cmake --preset dev
cmake --build --preset dev -j "$(nproc)" --target varnoth-terminal varnoth-simdevice

work=$(mktemp -d /tmp/varnoth-screenshot-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() {
  local deadline=$((SECONDS + 30))
  until eval "$1"; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "screenshot: $2" >&2
      exit 1
    fi
    sleep 0.1
  done
}

# Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for '[ -s "$work/display" ]' "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

mkdir "$work/ports"
build/dev/tools/varnoth-simdevice --link "$work/ports/com1" --record "$work/received.bin" \
  >"$work/device.log" &
pids+=($!)
wait_for 'grep -q "^ready" "$work/device.log"' "the simulated device did not start"

VARNOTH_PORTS_DIR="$work/ports" QT_QPA_PLATFORM=xcb build/dev/shell/qt/varnoth-terminal \
  "$PWD/tools/sample-program.txt" >"$work/terminal.log" 2>&1 &
pids+=($!)
window=$(timeout 30 xdotool search --sync --name '^Varnoth serial terminal$' | head -n 1)
# Without a window manager nothing gives the new window the keyboard.
timeout 30 xdotool windowfocus --sync "$window"

for line in "open 1" "id" "rp!"; do
  xdotool type --delay 20 "$line"
  xdotool key Return
  sleep 0.5
done
{ printf 'id\n'; cat tools/sample-program.txt; } >"$work/expected.bin"
wait_for 'cmp -s "$work/expected.bin" "$work/received.bin"' "the device did not get the program"
# The last answer shows on the next poll tick.
sleep 1

mkdir -p docs
import -window "$window" docs/screenshot.png
echo "Wrote docs/screenshot.png"
