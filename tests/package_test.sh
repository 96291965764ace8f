#!/usr/bin/env bash
# The Debian package as a user gets it, unpacked with dpkg -x (installing it for real would
# change this machine): the files a desktop needs, dependencies apt can satisfy, and the
# installed programs answering their options.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh desktop-file-utils
tools/make-packages.sh deb

deb=$(echo build/packages/varnoth-terminal_*.deb)
root=$(mktemp -d /tmp/varnoth_package_XXXXXX)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

dpkg -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/varnoth-terminal.desktop" ||
  fail "the desktop entry is not valid"
for size in 16 24 32 48 64 128 256; do
  file "$root/usr/share/icons/hicolor/${size}x$size/apps/varnoth-terminal.png" |
    grep -q "PNG image data, $size x $size" || fail "no $size px icon"
done

depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6 qt6-qpa-plugins; do
  grep -q "\b$package\b" <<<"$depends" || fail "Depends lacks $package: $depends"
done
apt-get install --simulate "$PWD/$deb" >/dev/null || fail "apt cannot satisfy: $depends"

# Each program in /usr/bin answers with the package's version.
for program in varnoth-terminal varnoth-upload; do
  [ "$("$root/usr/bin/$program" --version)" = "$program $(dpkg-deb -f "$deb" Version)" ] ||
    fail "$program --version"
done
tests/qt/program_options_test.sh "$root/usr/bin/varnoth-terminal" "$root/usr/bin/varnoth-upload"
echo "PASS: $deb"
