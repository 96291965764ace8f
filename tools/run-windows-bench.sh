#!/usr/bin/env bash
# The Windows program's share of bench/run.sh, under wine: append times of its output pane
# (the Win32 edit control), the CPU it uses when idle, and how long its ticks take while a
# device streams without pause. Called by bench/run.sh with
#   APPENDS REPEATS IDLE_SECONDS RESULTS_DIR [STREAM_SECONDS]
# A count of 0 (or no STREAM_SECONDS) leaves that measurement out.
set -euo pipefail
cd "$(dirname "$0")/.."
appends=$1 repeats=$2 idle_seconds=$3 results=$4 stream_seconds=${5:-0}

cmake --preset windows-x86_64 >/dev/null
cmake --build --preset windows-x86_64 -j "$(nproc)" --target win32_bench
bench=build/windows-x86_64/bench/win32_bench.exe
simdevice=build/release/tools/varnoth-simdevice
source tools/wine-session.sh

# A silent device, for the idle run with a port open.
start_device 3 --answer none --id none

# CPU time (in seconds) Linux has counted for a process so far: wine's own process times are
# not to be relied on.
cpu_seconds() { # PID
  awk -v ticks="$(getconf CLK_TCK)" '{print ($14 + $15) / ticks}' "/proc/$1/stat"
}

for run in $(seq "$repeats"); do
  if [ "$appends" -gt 0 ]; then
    run_windows_quietly "$work/pane.csv" "$bench" pane "$appends"
    tr -d '\r' <"$work/pane.csv" >"$results/win32_pane_$run.csv"
  fi
  # Idle: the program's process and wineserver, which relays its timer and window messages,
  # sampled a second after start and a second before the end, so start-up and shut-down stay
  # out of it.
  for port in none 3; do
    [ "$idle_seconds" -gt 0 ] || break
    args=(idle "$((idle_seconds + 2))")
    [ "$port" != none ] && args+=("$port")
    run_windows_quietly "$work/idle.txt" "$bench" "${args[@]}" &
    runner=$!
    sleep 1
    program=$(pgrep -n -f "win32_bench.exe idle") server=$(pgrep -n wineserver)
    before=$(echo "$(cpu_seconds "$program") + $(cpu_seconds "$server")" | bc -l)
    sleep "$idle_seconds"
    after=$(echo "$(cpu_seconds "$program") + $(cpu_seconds "$server")" | bc -l)
    wait "$runner"
    label=$([ "$port" = none ] && echo none || echo silent)
    echo "port=$label cpu_s=$(echo "$after - $before" | bc -l) elapsed_s=$idle_seconds" \
      >>"$results/win32_idle.txt"
  done
  # A device that talks without pause, at the 9600-baud byte rate one byte a write and then
  # flat out, each on a fresh COM4 so that every run starts from the beginning of the stream.
  for rate in 960 0; do
    [ "$stream_seconds" -gt 0 ] || break
    stream=(--stream "$rate")
    [ "$rate" -gt 0 ] &&
      stream+=(--stream-write-bytes 1 --stream-bytes "$((rate * stream_seconds))")
    start_device 4 "${stream[@]}"
    run_windows_quietly "$work/stream.txt" "$bench" stream "$((stream_seconds + 2))" 4
    kill "${session_pids[-1]}" && wait "${session_pids[-1]}" 2>/dev/null || true
    figures=$(tr -d '\r' <"$work/stream.txt" | tr '\n' ' ')
    echo "rate=$rate ${figures}load1=$(cut -d ' ' -f 1 /proc/loadavg)" >>"$results/win32_stream.txt"
  done
done
