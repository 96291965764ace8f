#!/usr/bin/env bash
# Builds the terminal and starts the simulated device as port 1 in a throwaway ports
# directory, so the terminal can be tried without hardware. Installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh cmake make g++ libgtest-dev

cmake --preset dev
cmake --build --preset dev -j "$(nproc)" --target varnoth-simdevice

ports=$(mktemp -d /tmp/varnoth-demo-XXXXXX)
trap 'rm -rf "$ports"' EXIT
echo "Simulated device linked as port 1 in $ports (Ctrl+C ends it)."
echo "Point the terminal at it with: export VARNOTH_PORTS_DIR=$ports"
build/dev/tools/varnoth-simdevice --link "$ports/com1" --record "$ports/received.bin"
