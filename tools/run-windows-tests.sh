#!/usr/bin/env bash
# Cross-builds the Windows programs (x86_64 and the i686 release) and tests the x86_64 build
# under wine64 and Xvfb: the simulated device plays COM3, COM4, COM7 to COM10, COM37 and
# COM255 of a throwaway wine prefix, and a file is linked as COM31; the installer puts both
# programs in place, and is tested too; the core's and the shell's unit tests run there, a
# Windows test driver works the installed window program with real key events, and the
# installed varnoth-upload.exe uploads a file, to two ports at once too, and lists the ports.
# 32-bit programs cannot run on these machines, so the i686 build is only built and inspected.
# Installs what is missing from Debian's packages. Closes with "N passed, M failed".
# VARNOTH_KEEP_WINE_WORK=1 keeps the prefix, the logs and the device records for a look.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh cmake make g++ libgtest-dev qt6-base-dev libedit-dev libncurses-dev \
  pkg-config googletest mingw-w64 wine wine64 xvfb nsis

passed=0
failed=0
skipped=0
pass() { passed=$((passed + 1)); echo "ok      $1"; }
fail() { failed=$((failed + 1)); echo "FAILED  $1"; }

# ---- builds ----

cmake --preset windows-x86_64 >/dev/null
cmake --build --preset windows-x86_64 -j "$(nproc)"
# The 32-bit release cannot run here; it has to build, warnings being errors.
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j "$(nproc)"
# The device runs natively, beside wine.
[ -f build/dev/CMakeCache.txt ] || cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target varnoth-simdevice

win64=build/windows-x86_64
simdevice=build/dev/tools/varnoth-simdevice

# The programs must need nothing but what every Windows has, and varnoth-upload.exe is a
# console program. Not grep -q: it would stop reading early, and objdump's broken pipe fail
# the pipeline.
check_imports() { # EXE DLLS (upper case, sorted, each followed by a blank)
  local dlls
  dlls=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
  if [ "$dlls" = "$2" ]; then
    pass "$1 imports only ${2% }"
  else
    fail "$1 imports only ${2% }: it imports $dlls"
  fi
}
for build in build/windows-x86_64 build/windows-i686; do
  check_imports "$build/varnoth-terminal.exe" "COMCTL32.DLL COMDLG32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL "
  check_imports "$build/varnoth-upload.exe" "KERNEL32.DLL MSVCRT.DLL "
  if x86_64-w64-mingw32-objdump -p "$build/varnoth-upload.exe" | grep 'Subsystem.*(Windows CUI)' >/dev/null; then
    pass "$build/varnoth-upload.exe is a console program"
  else
    fail "$build/varnoth-upload.exe is a console program"
  fi
done
if x86_64-w64-mingw32-objdump -f build/windows-i686/varnoth-terminal.exe | grep -q 'pei-i386'; then
  pass "the release build is a 32-bit program"
else
  fail "the release build is a 32-bit program"
fi

# ---- a throwaway wine prefix and X display, with the devices ----

source tools/wine-session.sh

# ---- the installers, as tools/make-packages.sh makes them; the 32-bit one cannot run here ----

for build in build/windows-i686 build/windows-x86_64; do
  cpack -G NSIS --config "$build/CPackConfig.cmake" -B "$work/installer" >"$work/cpack.log" ||
    { cat "$work/cpack.log"; exit 1; }
done
installer=$(echo "$work"/installer/*-x86_64.exe)
drive_c=$WINEPREFIX/drive_c
# Installs silently, with the OPTIONS after /S: both programs and the uninstaller in FOLDER, and
# a Start menu SHORTCUT to the terminal there.
install_and_check() { # NAME FOLDER SHORTCUT OPTIONS...
  local windows_folder=${2/#$drive_c/C:} what="the installer, $1: programs, uninstaller, Start menu"
  if run_windows_quietly "$work/install.log" "$installer" /S "${@:4}" &&
    [ -f "$2/Uninstall.exe" ] && [ -f "$2/varnoth-terminal.exe" ] && [ -f "$2/varnoth-upload.exe" ] &&
    grep -qaF "${windows_folder//\//\\}\\varnoth-terminal.exe" "$3"; then
    pass "$what"
  else
    fail "$what"
  fi
}
# The uninstaller copies itself away and returns at once; what it removes goes a little later.
uninstall_and_check() { # NAME FOLDER SHORTCUT
  folder=$2 shortcut=$3
  if run_windows_quietly "$work/uninstall.log" "$2/Uninstall.exe" /S &&
    wait_for '[ ! -e "$folder" ] && [ ! -e "$shortcut" ]'; then
    pass "the uninstaller, $1: nothing left"
  else
    fail "the uninstaller, $1: nothing left"
    ls -lR "$2" "$3" || true
  fi
}
echo "---- the installer under wine"
programs="Microsoft/Windows/Start Menu/Programs/Varnoth serial terminal.lnk"
own=("$drive_c/users/$(id -un)/AppData/Local/Programs/Varnoth serial terminal"
  "$drive_c/users/$(id -un)/AppData/Roaming/$programs")
everyone=("$drive_c/Program Files/Varnoth serial terminal" "$drive_c/ProgramData/$programs")
install_and_check "for the current user" "${own[@]}" /CurrentUser
uninstall_and_check "for the current user" "${own[@]}"
# For everyone: the tests below run the installed programs, and the uninstaller comes last.
install_and_check "for everyone" "${everyone[@]}"
terminal=${everyone[0]}/varnoth-terminal.exe
upload=${everyone[0]}/varnoth-upload.exe

# COM3 answers every line with '+' and identifies itself; COM4 answers no line, and its
# identification reply holds a line feed, XON, XOFF and a CR; COM7 sends back every byte.
start_device 3
start_device 4 --answer none --id 'ab\ncd'$'\x11''ef'$'\x13''gh\rij'
start_device 7 --answer none --echo
# COM8 prints numbered lines at 960 bytes a second for hours: it never pauses for 50 ms.
start_device 8 --stream 960
# COM11 answers one line and goes away, as a pulled cable does; then a new device takes its
# link, as the adapter plugged in again would, recording into port12-received.bin.
start_device 11 --hangup-after-lines 1
(
  while kill -0 "${session_pids[-1]}" 2>/dev/null; do sleep 0.1; done
  exec "$simdevice" --link "$WINEPREFIX/dosdevices/com11" --record "$work/port12-received.bin" \
    >"$work/port12.log" 2>&1
) &
session_pids+=($!)
# For varnoth-upload.exe: COM9 answers every line with '+', COM10 answers none.
start_device 9
start_device 10 --answer none
# Windows numbers COM ports up to 255: COM37 answers every line with '+', and so does COM255,
# which detection reaches once the devices before it that identify themselves (all but COM4)
# are moved aside.
start_device 37
start_device 255
# A file is no serial port; the serial link's test also holds it open, as another program would.
: >"$work/not-a-port.bin"
ln -s "$work/not-a-port.bin" "$WINEPREFIX/dosdevices/com31"

mkdir -p "$work/program dir"
printf '10 PRINT "first"\r\n20 PRINT "second"\n30 GOTO 10\n' >"$work/program dir/program file.txt"
# What an upload of it sends: the file is read as text, so CR LF comes out as LF.
printf '10 PRINT "first"\n20 PRINT "second"\n30 GOTO 10\n' >"$work/program-lines.txt"

# Runs a Windows program under wine, its output into a file, and shows that file.
run_windows() { # LOG PROGRAM ARGS...
  local status=0
  run_windows_quietly "$@" || status=$?
  cat "$1"
  return $status
}

# Adds a GoogleTest program's counts to the totals; a run that did not finish is a failure.
count_gtest() { # LOG NAME
  local ok bad skip
  if ! grep -q '^\[==========\] .* ran\.' "$1"; then
    fail "$2 ran to its end"
    return
  fi
  ok=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$1")
  bad=$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below:.*/\1/p' "$1")
  skip=$(sed -nE 's/^\[  SKIPPED \] ([0-9]+) tests?, listed below:.*/\1/p' "$1")
  passed=$((passed + ${ok:-0}))
  failed=$((failed + ${bad:-0}))
  skipped=$((skipped + ${skip:-0}))
}

# The core's unit tests, built for Windows.
echo "---- the core's unit tests under wine"
run_windows "$work/core_tests.log" "$win64/tests/core_tests.exe" || true
count_gtest "$work/core_tests.log" "core_tests.exe"

# The shell's panes over real edit controls, and the serial link against the echoing device,
# whose line another program left with hardware and software flow control on.
echo "---- the window shell and the serial link under wine"
stty -F "$(readlink -f "$WINEPREFIX/dosdevices/com7")" crtscts ixon ixoff
VARNOTH_ECHO_PORT='\\.\COM7' VARNOTH_FILE_PORT='\\.\COM31' run_windows "$work/shell_tests.log" "$win64/tests/shell_win32_tests.exe" ||
  true
count_gtest "$work/shell_tests.log" "shell_win32_tests.exe"

# The program itself, worked by the test driver.
echo "---- the program under wine"
VARNOTH_TERMINAL=$(windows_path "$terminal") VARNOTH_WORK=$(windows_path "$work") \
  run_windows "$work/driver.log" "$win64/tests/varnoth-terminal-driver.exe" || true
count_gtest "$work/driver.log" "varnoth-terminal-driver.exe"

# varnoth-upload.exe: its exit status, as wine passes it on, and what the device received.
check_upload() { # NAME EXPECTED_STATUS PORT_OPTION DEVICE_PORT EXPECTED_RECORD_FILE
  local status=0
  run_windows "$work/upload-$4.log" "$upload" --port "$3" \
    "$(windows_path "$work/program dir/program file.txt")" || status=$?
  if [ "$status" -eq "$2" ] && cmp -s "$work/port$4-received.bin" "$5"; then
    pass "varnoth-upload.exe: $1"
  else
    fail "varnoth-upload.exe: $1: exit status $status, and the device received this:"
    od -c "$work/port$4-received.bin" | head -n 5
  fi
}
echo "---- varnoth-upload.exe under wine"
check_upload "the file went out to its end (exit status 0)" 0 9 9 "$work/program-lines.txt"
# The first line, sent once and repeated four times.
for _ in 1 2 3 4 5; do printf '10 PRINT "first"\n'; done >"$work/first-line-5-times.txt"
check_upload "gave up on a silent device (exit status 3)" 3 10 10 "$work/first-line-5-times.txt"
check_upload "port 37 reached by its number" 0 37 37 "$work/program-lines.txt"
mkdir "$work/aside"
mv "$WINEPREFIX"/dosdevices/com{3,7,8,9,10,11,37} "$work/aside/"
{ printf 'id\n' && cat "$work/program-lines.txt"; } >"$work/probe-and-lines.txt"
check_upload "detection passed COM4 and COM31 and found COM255" 0 0 255 "$work/probe-and-lines.txt"
mv "$work/aside"/com* "$WINEPREFIX/dosdevices/"
# Two boards at once, COM3 and COM7 played anew: one takes the whole file, the other stops it
# with '*' at line 2, so the status is the one for some ports failed, and the table says each.
mv "$WINEPREFIX"/dosdevices/com{3,7} "$work/aside/"
start_device 3
start_device 7 --answer seq:+*
status=0
run_windows "$work/upload-many.log" "$upload" --port 3 --port 7 \
  "$(windows_path "$work/program dir/program file.txt")" || status=$?
head -n 2 "$work/program-lines.txt" >"$work/first-two-lines.txt"
if [ "$status" -eq 7 ] && cmp -s "$work/port3-received.bin" "$work/program-lines.txt" &&
  cmp -s "$work/port7-received.bin" "$work/first-two-lines.txt" &&
  grep -q '^   3  -  .* went out to its end: 3 lines' "$work/upload-many.log" &&
  grep -q "^   7  -  .* '\*' at line 2 of 3" "$work/upload-many.log"; then
  pass "varnoth-upload.exe --port 3 --port 7: each port's result, exit status 7"
else
  fail "varnoth-upload.exe --port 3 --port 7: each port's result, exit status 7: status $status"
fi
rm "$WINEPREFIX"/dosdevices/com{3,7}
mv "$work/aside"/com* "$WINEPREFIX/dosdevices/"
# --list-ports finds what the prefix links by opening it (device "-"), and nothing else. Wine's
# own COM1 is a DOS device still, with its device named, though the script took its link away.
run_windows_quietly "$work/list-ports.log" "$upload" --list-ports || true
listed=$(sed -nE 's/^ *([0-9]+)  COM[0-9]+ +-\r?$/\1/p' "$work/list-ports.log" | sort -n | tr '\n' ' ')
linked=$(ls "$WINEPREFIX/dosdevices" | sed -n 's/^com//p' | sort -n | tr '\n' ' ')
if [ "$listed" = "$linked" ]; then
  pass "varnoth-upload.exe --list-ports lists COM ${linked% }"
else
  fail "varnoth-upload.exe --list-ports lists COM ${linked% }: it printed this:"
  cat "$work/list-ports.log"
fi

uninstall_and_check "for everyone" "${everyone[@]}"

if [ "$failed" -gt 0 ]; then
  echo "---- the prefix's COM ports at the end"
  ls -l "$WINEPREFIX/dosdevices"
fi

summary="$passed passed, $failed failed"
[ "$skipped" -gt 0 ] && summary="$summary, $skipped skipped"
echo "$summary"
[ "$failed" -eq 0 ]
