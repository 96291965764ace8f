#!/usr/bin/env bash
# The whole terminal without hardware: installs what is missing, builds, starts the simulated
# device as port 1 in a throwaway ports directory and opens the window with a sample program
# file, or without a display the text console. There, type "open 1", then "id", then "rp!".
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ libgtest-dev qt6-base-dev libedit-dev libncurses-dev pkg-config)
# Qt reaches a Wayland-only session through its wayland platform plugin. Without any display
# the program runs in the text console of the terminal this runs in.
if [ -z "${DISPLAY:-}" ] && [ -n "${WAYLAND_DISPLAY:-}" ]; then
  packages+=(qt6-wayland)
fi
tools/install-packages.sh "${packages[@]}"

cmake --preset dev
cmake --build --preset dev -j "$(nproc)" --target varnoth-terminal varnoth-simdevice

ports=$(mktemp -d /tmp/varnoth-demo-XXXXXX)
device_pid=
cleanup() {
  if [ -n "$device_pid" ]; then
    kill "$device_pid" 2>/dev/null || true
    wait "$device_pid" 2>/dev/null || true
  fi
  rm -rf "$ports"
}
trap cleanup EXIT

build/dev/tools/varnoth-simdevice --link "$ports/com1" --record "$ports/received.bin" \
  >"$ports/device.log" &
device_pid=$!
# The device says "ready" once its link is in place.
for _ in $(seq 100); do
  grep -q '^ready' "$ports/device.log" && break
  kill -0 "$device_pid" 2>/dev/null || {
    echo "The simulated device did not start." >&2
    exit 1
  }
  sleep 0.1
done

cat <<TEXT
Simulated device linked as port 1 in $ports; it goes when the terminal ends.
In the window (or the text console, without a display), type:
  open 1   connects to it
  id       asks it who it is (answer: TELK7 simulated device)
  rp!      uploads tools/sample-program.txt, one '+' per line
  clear    empties the pane
TEXT
VARNOTH_PORTS_DIR="$ports" build/dev/shell/qt/varnoth-terminal "$PWD/tools/sample-program.txt"
