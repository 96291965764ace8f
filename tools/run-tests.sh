#!/usr/bin/env bash
# Builds everything and runs every test. Installs what is missing from Debian's packages.
#   FUZZ_SECONDS        how long each fuzz target runs (default 60)
#   VARNOTH_FLOOD_SECONDS  how long the flooding-device test floods (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh cmake make g++ clang libclang-rt-14-dev libgtest-dev qt6-base-dev \
  libedit-dev libncurses-dev pkg-config xvfb xdotool xclip python3-xlib tmux

echo "== native build and tests"
cmake --preset dev
cmake --build --preset dev -j "$(nproc)"
ctest --preset dev -j "$(nproc)"

echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan
cmake --build --preset asan -j "$(nproc)"
ctest --preset asan -j "$(nproc)"

echo "== the Linux programs on real kernel serial drivers, in a virtual machine"
tests/vm/run.sh

echo "== fuzzing the core"
tools/run-fuzz.sh

echo "== the Windows program, cross-built and run under wine"
tools/run-windows-tests.sh

echo "== the Debian package, installed on a freshly made Debian system"
tests/package_test.sh
