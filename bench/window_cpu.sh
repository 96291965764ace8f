#!/usr/bin/env bash
# The Linux program's CPU while it reads a stream, as a user runs it: the real window on a
# virtual X server, "open 1" typed into it. CPU is the user and system time Linux has counted
# for the process (/proc/PID/stat), sampled once the port is open and again SECONDS later, so
# that start-up stays out of it; the X server's own time is not in it. With --log the program
# writes its session log to FILE (varnoth-terminal --log) all along. Prints cpu_s=...
#
#   bench/window_cpu.sh [--log FILE] TERMINAL SIMDEVICE SECONDS [SIMDEVICE OPTIONS...]
set -euo pipefail
terminal_options=()
if [ "$1" = --log ]; then
  terminal_options=(--log "$2")
  shift 2
fi
terminal=$1 simdevice=$2 seconds=$3
shift 3
work=$(mktemp -d /tmp/varnoth-window-cpu-XXXXXX)
source "$(dirname "$0")/window_session.sh"

cpu_seconds() { # PID
  awk -v ticks="$(getconf CLK_TCK)" '{print ($14 + $15) / ticks}' "/proc/$1/stat"
}

start_device_in "$work" "$simdevice" "$@"
open_window_in "$work" "$terminal" "${terminal_options[@]}"
before=$(cpu_seconds "$window_pid")
sleep "$seconds"
after=$(cpu_seconds "$window_pid")
holds_open "$window_pid" "$device_tty" || {
  echo "window_cpu: the port was closed before the end" >&2
  exit 1
}
echo "cpu_s=$(echo "$after - $before" | bc -l)"
