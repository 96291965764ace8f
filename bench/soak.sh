#!/usr/bin/env bash
# The Linux program's memory over a long run, as a user who leaves the terminal open next to a
# talking device sees it: the real program on a virtual X server, its port the simulated device
# streaming one shape of line, its resident memory sampled from /proc for SOAK_MINUTES. The
# feeds run side by side, each its own program and device: memory is each process's own, and
# the run takes as long as one feed. Writes, for each feed, RESULTS/soak_<feed>.dat: a
# "# feed=... rate=... minutes=..." line, then "seconds kib" every SOAK_SAMPLE_SECONDS.
# bench/report.py plots and sums them up.
#
#   bench/soak.sh TERMINAL SIMDEVICE RESULTS
#   SOAK_MINUTES=8             how long
#   SOAK_RATE=20000            bytes a second from each device
#   SOAK_SAMPLE_SECONDS=5      between two samples
#   SOAK_FEEDS="numbered empty mixed"   line shapes (varnoth-simdevice --stream-lines)
set -euo pipefail
terminal=$1 simdevice=$2 results=$3
minutes=${SOAK_MINUTES:-8} rate=${SOAK_RATE:-20000} sample=${SOAK_SAMPLE_SECONDS:-5}
feeds=${SOAK_FEEDS:-numbered empty mixed}
work=$(mktemp -d /tmp/varnoth-soak-XXXXXX)
source "$(dirname "$0")/window_session.sh"

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

echo "== soak: $feeds lines at $rate B/s each for $minutes min"
declare -A program
for feed in $feeds; do
  start_device_in "$work/$feed" "$simdevice" --stream "$rate" --stream-lines "$feed"
  open_window_in "$work/$feed" "$terminal"
  program[$feed]=$window_pid
  echo "# feed=$feed rate=$rate minutes=$minutes" >"$results/soak_$feed.dat"
done
start=$SECONDS
while [ $((SECONDS - start)) -lt $((minutes * 60)) ]; do
  for feed in $feeds; do
    echo "$((SECONDS - start)) $(rss_kib "${program[$feed]}")" >>"$results/soak_$feed.dat"
  done
  sleep "$sample"
done
