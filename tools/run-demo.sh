#!/usr/bin/env bash
# The whole terminal without hardware: installs what is missing, builds, starts the simulated
# device as port 1 in a throwaway ports directory and opens the window with a sample program
# file. In the window, type "open 1", then "id", then "rp!".
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'TEXT'
No display: neither DISPLAY nor WAYLAND_DISPLAY is set, so the window has nowhere to open.
Run this in a desktop session, or from another machine's desktop over SSH with X forwarding
(ssh -X this-host, then run tools/run-demo.sh again).
Without any display, tools/screenshot.sh plays the same session on a virtual X server (Xvfb)
and saves a picture of the window, and tools/run-tests.sh runs every test headless.
TEXT
  exit 1
fi

packages=(cmake make g++ libgtest-dev qt6-base-dev libedit-dev libncurses-dev pkg-config)
# Qt reaches a Wayland-only session through its wayland platform plugin.
if [ -z "${DISPLAY:-}" ]; then
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
Simulated device linked as port 1 in $ports; it goes when the window closes.
In the window, type:
  open 1   connects to it
  id       asks it who it is (answer: TELK7 simulated device)
  rp!      uploads tools/sample-program.txt, one '+' per line
  clear    empties the pane
TEXT
VARNOTH_PORTS_DIR="$ports" build/dev/shell/qt/varnoth-terminal "$PWD/tools/sample-program.txt"
