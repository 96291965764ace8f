#!/usr/bin/env bash
# What a session log keeps of a program killed outright: the real window on a virtual X server,
# logging (varnoth-terminal --log), "open 1" typed into it while the simulated device streams;
# after a random 1 to 6 s its pane is copied as a user copies it (a click in the pane, Ctrl+A,
# Ctrl+C, read back with xclip) and the program is sent SIGKILL the moment the copy has been
# read. What the pane had shown is then looked for in the log's device lines, escapes undone.
# Prints, as key=value lines: after_ms (from the port's open to the copy), copy_to_kill_ms
# (from the copy's keys sent to the kill), shown_lines and shown_bytes (the device's text in the
# pane, a line it was still showing included), logged_lines (the log's device lines),
# lost_lines and lost_bytes (what the pane had shown and the log lacks, from the first byte that
# differs on), later_bytes (what the log holds past the copy: it came between the copy and the
# kill).
#
#   bench/log_kill.sh TERMINAL SIMDEVICE [SIMDEVICE OPTIONS...]
set -euo pipefail
terminal=$1 simdevice=$2
shift 2
work=$(mktemp -d /tmp/varnoth-log-kill-XXXXXX)
source "$(dirname "$0")/window_session.sh"

start_device_in "$work" "$simdevice" "$@"
open_window_in "$work" "$terminal" --log "$work/session.log"
opened=$(date +%s%N)
after_ms=$((1000 + RANDOM % 5000))
sleep "$(printf '%d.%03d' $((after_ms / 1000)) $((after_ms % 1000)))"
# The click gives the pane the keyboard (the input line has it), so that Ctrl+A selects the
# pane's text. The clipboard of this X server has no owner until the copy is made, so the first
# answer xclip gives is the copy's.
xdotool mousemove --window "$window" 100 100 click 1 key ctrl+a key ctrl+c
copied=$(date +%s%N)
until xclip -o -selection clipboard >"$work/pane.txt" 2>/dev/null; do
  [ $(($(date +%s%N) - copied)) -lt 10000000000 ] || {
    echo "log_kill: the pane could not be copied" >&2
    exit 1
  }
  sleep 0.01
done
# bash says "Killed" of its job on its own standard error, not the wait's.
{
  kill -KILL "$window_pid"
  killed=$(date +%s%N)
  wait "$window_pid" || true
} 2>/dev/null
echo "after_ms=$(((copied - opened) / 1000000))"
echo "copy_to_kill_ms=$(((killed - copied) / 1000000))"
python3 - "$work/pane.txt" "$work/session.log" <<'EOF'
import re
import sys

ESCAPE = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\"}


def unescape(text):
    return re.sub(r"\\(x[0-9A-Fa-f]{2}|.)", lambda m: chr(int(m.group(1)[1:], 16))
                  if m.group(1)[0] == "x" else ESCAPE[m.group(1)], text)


# A device line of the log: "YYYY-MM-DD HH:MM:SS.mmm device   TEXT"; a line the program was
# killed in the middle of has no "\n" and may have no newline either.
lines = [line.rstrip("\n") for line in open(sys.argv[2], encoding="latin-1")]
device = [unescape(line.split(" device   ", 1)[1]) for line in lines if " device   " in line]
logged = "".join(device)
pane = open(sys.argv[1], encoding="utf-8").read()
# The device's text in the pane begins with what it sent first after the port's open, which
# begins the log's device text too; the terminal's words come before it.
start = pane.find(logged[:40]) if logged else -1
if start < 0:
    # Not even the beginning is in the log: all the device's lines in the pane are lost.
    start = pane.find("stream ")
shown = pane[start:] if start >= 0 else ""
kept = 0
while kept < len(shown) and kept < len(logged) and shown[kept] == logged[kept]:
    kept += 1
lost = shown[kept:]
# A line counts as lost when any of its bytes is.
lost_lines = 0 if not lost else lost.count("\n") + (0 if lost.endswith("\n") else 1)
print("shown_lines=%d" % (shown.count("\n") + (0 if shown.endswith("\n") or not shown else 1)))
print("shown_bytes=%d" % len(shown))
print("logged_lines=%d" % len(device))
print("lost_lines=%d" % lost_lines)
print("lost_bytes=%d" % len(lost))
print("later_bytes=%d" % max(0, len(logged) - kept) if not lost else "later_bytes=0")
EOF
