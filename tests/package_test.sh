#!/usr/bin/env bash
# The Debian package as a user gets it: lintian's verdict, then `apt-get install` on a freshly
# installed minimal Debian (tools/debian-system.sh), where the programs answer their options,
# the manual pages, desktop entry, icons and software-centre entry are in place, and
# `apt-get remove` leaves nothing of the package behind.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh desktop-file-utils lintian appstream debootstrap
tools/make-packages.sh deb

deb=$(echo build/packages/varnoth-terminal_*.deb)
fail() { echo "FAIL: $*" >&2; exit 1; }

# Information tags are allowed (unhardened binaries, a .comment section).
lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
# Qt loads its platform plugins unseen by dpkg-shlibdeps, and without one no window opens; the
# text console links libedit and terminfo's libtinfo.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6 qt6-qpa-plugins libedit2 \
  libtinfo6; do
  grep -q "\b$package\b" <<<"$depends" || fail "Depends lacks $package: $depends"
done

started=$SECONDS
source tools/debian-system.sh
"${as_root[@]}" cp "$deb" tests/qt/program_options_test.sh "$system/tmp/"
# Without the recommended packages, so that what the package depends on is shown to suffice.
in_system apt-get update -qq
in_system env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "/tmp/${deb##*/}" >"$system_log" 2>&1 || { cat "$system_log"; fail "apt-get install"; }

for program in varnoth-terminal varnoth-upload; do
  [ "$(in_system "$program" --version)" = "$program $(dpkg-deb -f "$deb" Version)" ] ||
    fail "$program --version"
  in_system man -w "$program" >/dev/null || fail "no manual page for $program"
done
in_system varnoth-terminal --list-ports >/dev/null || fail "varnoth-terminal --list-ports"
in_system /tmp/program_options_test.sh /usr/bin/varnoth-terminal /usr/bin/varnoth-upload
desktop-file-validate "$system/usr/share/applications/varnoth-terminal.desktop" ||
  fail "the desktop entry is not valid"
appstreamcli validate --no-net "$system"/usr/share/metainfo/*.metainfo.xml >/dev/null ||
  fail "the software-centre entry is not valid"
for size in 16 24 32 48 64 128 256; do
  file "$system/usr/share/icons/hicolor/${size}x$size/apps/varnoth-terminal.png" |
    grep -q "PNG image data, $size x $size" || fail "no $size px icon"
done

in_system apt-get remove -y -qq varnoth-terminal >/dev/null
"${as_root[@]}" rm "$system/tmp/${deb##*/}"
left=$("${as_root[@]}" find "$system" -xdev -mindepth 1 -iname '*varnoth*')
[ -z "$left" ] || fail "apt-get remove left these behind: $left"
echo "PASS: $deb (fresh system: $((SECONDS - started)) s)"
