#!/usr/bin/env bash
# Builds everything and runs every test. Installs what is missing from Debian's packages.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh cmake make g++ libgtest-dev

cmake --preset dev
cmake --build --preset dev -j "$(nproc)"
ctest --preset dev -j "$(nproc)"
