#!/usr/bin/env bash
# Makes the packages into build/packages: the Debian package of the Linux programs
# (varnoth-terminal_<version>_<arch>.deb) and, for each Windows architecture, an installer and a
# .zip of the programs with the README and its pages (varnoth-terminal-<version>-windows-i686.exe and .zip,
# -windows-x86_64.exe and .zip). Installs what is missing from Debian's packages.
#   tools/make-packages.sh            all of them
#   tools/make-packages.sh deb        only the .deb (or: windows, only the Windows packages)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build/packages

kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(deb windows)

# Builds a preset and has CPack package it into $out.
package() { # PRESET
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$(nproc)"
  cpack --config "build/$1/CPackConfig.cmake" -B "$out"
}

mkdir -p "$out"
for kind in "${kinds[@]}"; do
  case $kind in
    deb)
      # dpkg-shlibdeps (dpkg-dev) works out the dependencies; CPack finds programs with file;
      # help2man makes the manual pages.
      tools/install-packages.sh cmake make g++ qt6-base-dev libedit-dev libncurses-dev pkg-config \
        dpkg-dev file help2man
      rm -f "$out"/*.deb
      package release
      ;;
    windows)
      # nsis makes the installers.
      tools/install-packages.sh cmake make mingw-w64 nsis
      rm -f "$out"/*windows*.zip "$out"/*windows*.exe
      package windows-i686
      package windows-x86_64
      ;;
    *)
      echo "usage: tools/make-packages.sh [deb] [windows]" >&2
      exit 2
      ;;
  esac
done
rm -rf "$out/_CPack_Packages"
ls -l "$out"
