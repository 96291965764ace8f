#!/usr/bin/env bash
# The Linux program's memory over a long run, as a user who leaves the terminal open next to a
# talking device sees it: the real program on a virtual X server, its port the simulated device
# streaming one shape of line, its resident memory sampled from /proc for SOAK_MINUTES per feed.
# Writes, for each feed, RESULTS/NAME_<feed>.dat: a "# feed=... rate=... minutes=..." line,
# then "seconds kib" every SOAK_SAMPLE_SECONDS. bench/report.py plots and sums them up.
#
#   bench/soak.sh TERMINAL SIMDEVICE RESULTS [NAME]   (NAME: soak, or soak_before for a build
#                                                       from before a change, shown beside it)
#   SOAK_MINUTES=10            per feed
#   SOAK_RATE=20000            bytes a second from the device
#   SOAK_SAMPLE_SECONDS=5      between two samples
#   SOAK_FEEDS="numbered empty mixed"   line shapes (varnoth-simdevice --stream-lines)
set -euo pipefail
terminal=$1 simdevice=$2 results=$3 name=${4:-soak}
minutes=${SOAK_MINUTES:-10} rate=${SOAK_RATE:-20000} sample=${SOAK_SAMPLE_SECONDS:-5}
feeds=${SOAK_FEEDS:-numbered empty mixed}
work=$(mktemp -d /tmp/varnoth-soak-XXXXXX)
source "$(dirname "$0")/../tools/xvfb-session.sh"

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

for feed in $feeds; do
  echo "== soak: $feed lines at $rate B/s for $minutes min"
  "$simdevice" --link "$work/com1" --stream "$rate" --stream-lines "$feed" \
    > "$work/device.log" &
  device_pid=$!
  session_pids+=("$device_pid")
  wait_for 'grep -q "^ready" "$work/device.log"' || {
    echo "soak: the simulated device did not start" >&2
    exit 1
  }
  VARNOTH_PORTS_DIR=$work QT_QPA_PLATFORM=xcb "$terminal" > "$work/terminal.log" 2>&1 &
  terminal_pid=$!
  session_pids+=("$terminal_pid")
  window=$(timeout 30 xdotool search --sync --name '^Varnoth serial terminal$' | head -n 1) || {
    echo "soak: no window" >&2
    exit 1
  }
  # Without a window manager nothing gives the new window the keyboard; the window can be
  # found a moment before it is mapped, when X refuses it the focus.
  wait_for 'timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null' || {
    echo "soak: the window did not take the focus" >&2
    exit 1
  }
  xdotool type "open 1"
  xdotool key Return
  start=$SECONDS
  series="$results/${name}_$feed.dat"
  echo "# feed=$feed rate=$rate minutes=$minutes" > "$series"
  while [ $((SECONDS - start)) -lt $((minutes * 60)) ]; do
    echo "$((SECONDS - start)) $(rss_kib "$terminal_pid")" >> "$series"
    sleep "$sample"
  done
  kill "$terminal_pid" "$device_pid"
  wait "$terminal_pid" "$device_pid" 2>/dev/null || true
  session_pids=("${session_pids[@]:0:1}")
done
