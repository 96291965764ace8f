#!/usr/bin/env bash
# Builds an optimised terminal and measures what a user feels: upload pace, receive cost and
# responsiveness under a stream, CPU against other serial terminals, what the session log
# costs and keeps, pane cost, footprint and idle load. Writes the raw figures to bench/results/
# (not kept in git: each run makes its own) and the report to bench/results/report.md (with
# plots). Installs what is missing from Debian's packages.
#
#   REPEATS=2         runs of each measurement (medians and spreads are over these)
#   UPLOAD_REPEATS=3  runs of each upload, both paces and programs taking turns
#   COMPARE_REPEATS=3 runs of each program in the CPU comparison, which is judged on medians,
#                     and of the window with the log off and on
#   BENCH_QUICK=1     a short smoke pass: small files, short runs, one repeat
#   BENCH_SECTIONS="receive compare"
#                     runs only these of: upload upload-program many-ports receive compare
#                     log-cpu log-kill pane idle soak;
#                     the other sections' figures stay as the last run left them here
#   SOAK_MINUTES=8    how long the soak feeds its shapes of line, side by side (bench/soak.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

# help2man: the release build makes the manual pages.
tools/install-packages.sh cmake make g++ libgtest-dev qt6-base-dev libedit-dev libncurses-dev \
  pkg-config gnuplot-nox bc mingw-w64 wine64 xvfb xdotool xclip picocom tio linux-perf help2man

# Sized to what each figure needs. A fast upload goes at the line's pace, a few milliseconds a
# line: 300 lines make the start and the end a small part of the time, and take 2 to 16 s. The
# usual pace is one line a tick from its first line: 100 lines (10 s) pin it within a tick, 1 %,
# where 300 would take 30 s a run. A stream's ticks are all alike once the pane is full,
# which a flood does within seconds: 15 s give 150 ticks to find the longest in. The CPU
# comparison's 20 s and three runs each are its definition; the log's CPU is read the same way,
# the window with the log off and on taking turns. Ten kills of a logging window, each a second
# or two of start-up and 1 to 6 s of stream, take about a minute. A pane is full after 1,000
# appends; the Win32 one under wine takes some 70 ms an append once full, so 300 appends show
# its making room. Idle CPU is a rate: 20 s show it. A soak needs minutes for its growth per
# minute to rise above the few MB its memory saws by (see bench/report.py).
repeats=${REPEATS:-2} upload_repeats=${UPLOAD_REPEATS:-3} compare_repeats=${COMPARE_REPEATS:-3}
fast_upload_lines=300 usual_upload_lines=100 many_ports_lines=100 stream_seconds=15
compare_seconds=20 idle_seconds=20 log_kills=10
pane_appends=3000 windows_pane_appends=1300
soak_minutes=${SOAK_MINUTES:-8}
if [ -n "${BENCH_QUICK:-}" ]; then
  repeats=1 upload_repeats=1 compare_repeats=1 fast_upload_lines=30 usual_upload_lines=20
  many_ports_lines=20 stream_seconds=3 compare_seconds=3 idle_seconds=3 log_kills=3
  pane_appends=1200 windows_pane_appends=1050 soak_minutes=1
fi
sections=${BENCH_SECTIONS:-upload upload-program many-ports receive compare log-cpu log-kill pane idle soak}
wanted() { [[ " $sections " == *" $1 "* ]]; }

cmake --preset release > /dev/null
cmake --build --preset release -j "$(nproc)" --target terminal_bench qt_pane_bench \
  varnoth-simdevice varnoth-terminal varnoth-upload
# The Windows programs only for the sections that run them or give their sizes.
if wanted receive || wanted pane || wanted idle; then
  for preset in windows-x86_64 windows-i686; do
    cmake --preset "$preset" > /dev/null
    cmake --build --preset "$preset" -j "$(nproc)" --target varnoth-terminal varnoth-upload
  done
fi
bin=build/release
results=bench/results
mkdir -p "$results"
# A full run starts afresh; a run of some sections replaces only their figures and notes when
# they were made, so that the report can tell which run each section comes from.
if [ -z "${BENCH_SECTIONS:-}" ]; then
  rm -f "$results"/*.txt "$results"/*.csv "$results"/*.dat
else
  for section in $sections; do
    case $section in
      upload) rm -f "$results/upload.txt" ;;
      upload-program) rm -f "$results/upload_program.txt" ;;
      many-ports) rm -f "$results/many_ports.txt" ;;
      receive) rm -f "$results"/receive*.txt "$results/win32_stream.txt" ;;
      compare) rm -f "$results/compare.txt" ;;
      log-cpu) rm -f "$results/log_cpu.txt" ;;
      log-kill) rm -f "$results/log_kill.txt" ;;
      pane) rm -f "$results"/qt_pane_*.csv "$results"/win32_pane_*.csv ;;
      idle) rm -f "$results"/{idle,full_pane,win32_idle,sizes}.txt ;;
      soak) rm -f "$results"/soak_*.dat ;;
      *) echo "bench: no section $section" >&2 && exit 2 ;;
    esac
  done
  echo "date=$(date -u +%Y-%m-%dT%H:%MZ) repeats=$repeats upload_repeats=$upload_repeats" \
    "sections=${sections// /,}" \
    >> "$results/partial_runs.txt"
fi

work=$(mktemp -d /tmp/varnoth-bench-XXXXXX)
device_pid=
stop_device() {
  if [ -n "$device_pid" ]; then
    kill "$device_pid" 2>/dev/null || true
    wait "$device_pid" 2>/dev/null || true
    device_pid=
  fi
}
trap 'stop_device; rm -rf "$work"' EXIT

export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" VARNOTH_PORTS_DIR="$work"

# Starts the simulated device as port 1 with the given options; waits until it is ready.
start_device() {
  stop_device
  "$bin/tools/varnoth-simdevice" --link "$work/com1" --record "$work/received.bin" "$@" \
    > "$work/device.log" &
  device_pid=$!
  for _ in $(seq 100); do
    grep -q '^ready' "$work/device.log" && return
    sleep 0.05
  done
  echo "bench: the simulated device did not start" >&2
  exit 1
}

device_tty() { sed -n 's/^ready //p' "$work/device.log"; }

# A figure from perf stat's CSV output: the count of an event (by its name), as it wrote it.
perf_count() { awk -F, -v event="$1" '$3 == event {print $1}' "$work/perf.txt"; }

# Appends "name key=value ..." (one line a run) to a results file, with the machine's 1-minute
# load average as the run ends: timings on a shared machine are read against it.
record() {
  local file=$1 name=$2
  shift 2
  echo "$name $(tr '\n' ' ' < "$@")load1=$(cut -d ' ' -f 1 /proc/loadavg)" >> "$results/$file.txt"
}

# A run of some sections adds to the full run before it and keeps its description.
if [ -z "${BENCH_SECTIONS:-}" ] || [ ! -f "$results/machine.txt" ]; then
  echo "== machine"
  {
    echo "date=$(date -u +%Y-%m-%dT%H:%MZ)"
    echo "cpu=$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1 | tr ' ' '_')"
    echo "cores=$(nproc)"
    echo "memory_gib=$(free -g | awk '/^Mem:/ {print $2}')"
    echo "kernel=$(uname -r)"
    echo "qt=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null)"
    echo "wine=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null)"
  } > "$results/machine.txt"
fi

# The line the uploads run on: the device takes and sends bytes at 9600 baud, 8N1, and answers
# a line once its last byte is in, after the given delay.
upload_line=(--baud 9600)
# The gapless stream of the CPU comparison: 960 bytes a second, one byte a write.
compare_stream=(--stream 960 --stream-write-bytes 1)
upload_delays="0 20"
# 30-byte lines (29 characters and LF), as a BASIC program's, and 5-byte ones, where the answer
# and the device's delay weigh most against the line's own bytes.
upload_line_bytes="30 5"
# A program file of $2 lines of $1 bytes each, LF included.
make_program() {
  local line
  for line in $(seq "$2"); do
    case $1 in
      30) printf '%04d PRINT "line %04d of %03d"\n' "$((line * 10))" "$line" "$2" ;;
      5) printf '?%03d\n' "$line" ;;
    esac
  done
}
for line_bytes in $upload_line_bytes; do
  make_program "$line_bytes" "$fast_upload_lines" > "$work/fast_$line_bytes.txt"
  make_program "$line_bytes" "$usual_upload_lines" > "$work/usual_$line_bytes.txt"
done

# What every upload run records besides its timing: the file, the device and what it received.
upload_facts() {
  local file=$1 line_bytes=$2 delay=$3
  echo "lines=$(wc -l < "$file")"
  echo "bytes=$(stat -c %s "$file")"
  echo "line_bytes=$line_bytes"
  echo "delay=$delay"
  echo "received_bytes=$(stat -c %s "$work/received.bin")"
}

if wanted upload; then
  echo "== upload pace of the window ($fast_upload_lines lines fast, $usual_upload_lines usual)"
  # The two paces take turns, so that a disturbance of the machine falls on both.
  for run in $(seq "$upload_repeats"); do
    for line_bytes in $upload_line_bytes; do
      for delay in $upload_delays; do
        for pace in fast usual; do
          choice=()
          [ "$pace" = fast ] && choice=(--fast-upload)
          start_device "${upload_line[@]}" --delay "$delay"
          "$bin/bench/terminal_bench" --program "$work/${pace}_$line_bytes.txt" --type "open 1" \
            "${choice[@]}" --type "rp!" --until-upload-ends > "$work/out.txt"
          upload_facts "$work/${pace}_$line_bytes.txt" "$line_bytes" "$delay" >> "$work/out.txt"
          record upload "pace=$pace" "$work/out.txt"
        done
      done
    done
  done
  stop_device
fi

if wanted upload-program; then
  echo "== upload pace of varnoth-upload ($fast_upload_lines lines fast, $usual_upload_lines usual)"
  # The whole program from outside, as a script runs it: start, connect, upload, exit. Its CPU
  # is the child's getrusage, as bash's time reports it.
  for run in $(seq "$upload_repeats"); do
    for line_bytes in $upload_line_bytes; do
      for delay in $upload_delays; do
        for pace in fast usual; do
          choice=()
          [ "$pace" = fast ] && choice=(--fast)
          start_device "${upload_line[@]}" --delay "$delay"
          TIMEFORMAT='elapsed_s=%R cpu_s=%U+%S'
          status=0
          { time "$bin/shell/upload/varnoth-upload" --quiet --port 1 "${choice[@]}" \
              "$work/${pace}_$line_bytes.txt" > /dev/null 2> "$work/upload.err"; } \
            2> "$work/time.txt" || status=$?
          {
            sed -n 's/^\(elapsed_s=[0-9.]*\) .*/\1/p' "$work/time.txt"
            echo "cpu_s=$(sed -n 's/.* cpu_s=//p' "$work/time.txt" | bc -l)"
            echo "exit=$status"
            upload_facts "$work/${pace}_$line_bytes.txt" "$line_bytes" "$delay"
          } > "$work/out.txt"
          record upload_program "pace=$pace" "$work/out.txt"
        done
      done
    done
  done
  stop_device
fi

if wanted many-ports; then
  echo "== many ports at once (1 to 32 devices, $many_ports_lines lines, fast and usual)"
  # The same program file to every port, each device on its own modelled 9600-baud line. One
  # run of each: the count of ports is what varies, and one port's run is the reference.
  make_program 30 "$many_ports_lines" > "$work/many.txt"
  many_pids=()
  stop_many_devices() {
    local pid
    for pid in "${many_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${many_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    many_pids=()
  }
  trap 'stop_many_devices; stop_device; rm -rf "$work"' EXIT
  for ports in 1 2 4 8 16 32; do
    for pace in fast usual; do
      port_options=()
      for port in $(seq "$ports"); do
        "$bin/tools/varnoth-simdevice" --link "$work/com$port" --record "$work/many_$port.bin" \
          "${upload_line[@]}" > "$work/many_$port.log" &
        many_pids+=($!)
        port_options+=(--port "$port")
      done
      for port in $(seq "$ports"); do
        for _ in $(seq 100); do
          grep -q '^ready' "$work/many_$port.log" && break
          sleep 0.05
        done
      done
      choice=()
      [ "$pace" = fast ] && choice=(--fast)
      # bash's time in a subshell of its own counts the program and the children it reaped,
      # one per port; the resident memory of the program and its children together is
      # sampled from outside every 200 ms, for its peak.
      TIMEFORMAT='elapsed_s=%R cpu_s=%U+%S'
      ( time "$bin/shell/upload/varnoth-upload" --quiet "${port_options[@]}" "${choice[@]}" \
          "$work/many.txt" > /dev/null 2> "$work/upload.err"; echo "exit=$?" > "$work/exit.txt" ) \
        2> "$work/time.txt" &
      timer=$!
      peak_kib=0
      while kill -0 "$timer" 2>/dev/null; do
        upload_pid=$(pgrep -P "$timer" -x varnoth-upload || true)
        if [ -n "$upload_pid" ]; then
          # ps fails once the program has ended between the look and the listing.
          sum=$({ ps -o rss= -p "$upload_pid" --ppid "$upload_pid" || true; } |
            awk '{s += $1} END {print s + 0}')
          [ "$sum" -gt "$peak_kib" ] && peak_kib=$sum
        fi
        sleep 0.2
      done
      wait "$timer" || true
      complete=0
      for port in $(seq "$ports"); do
        cmp -s "$work/many_$port.bin" "$work/many.txt" && complete=$((complete + 1))
      done
      stop_many_devices
      {
        echo "ports=$ports"
        sed -n 's/^\(elapsed_s=[0-9.]*\) .*/\1/p' "$work/time.txt"
        echo "cpu_s=$(sed -n 's/.* cpu_s=//p' "$work/time.txt" | bc -l)"
        cat "$work/exit.txt"
        echo "peak_rss_kib=$peak_kib"
        echo "complete=$complete"
        echo "lines=$many_ports_lines"
      } > "$work/out.txt"
      record many_ports "pace=$pace" "$work/out.txt"
    done
  done
fi

if wanted receive; then
  echo "== receive cost and ticks (${stream_seconds}s per stream)"
  # The 9600-baud byte rate one byte a write (a byte about every millisecond, the most wake-ups
  # a reader can be given at that rate), then as fast as the pseudo-terminal takes the bytes.
  # System calls are counted by the kernel's tracepoint, which does not stop the program at
  # each call as strace does: strace's stops slow the reader so that bytes pile up between its
  # reads, and a paced stream then looks cheaper than it is.
  for run in $(seq "$repeats"); do
    for rate in 960 0; do
      stream=(--stream "$rate")
      [ "$rate" -gt 0 ] &&
        stream+=(--stream-write-bytes 1 --stream-bytes "$((rate * stream_seconds))")
      # CPU and ticks, unobserved.
      start_device "${stream[@]}"
      "$bin/bench/terminal_bench" --type "open 1" --seconds "$((stream_seconds + 2))" \
        > "$work/out.txt"
      record receive "rate=$rate" "$work/out.txt"
      start_device "${stream[@]}"
      perf stat -x, -e raw_syscalls:sys_enter -o "$work/perf.txt" "$bin/bench/terminal_bench" \
        --type "open 1" --seconds "$((stream_seconds + 2))" > "$work/out.txt"
      echo "syscalls=$(perf_count raw_syscalls:sys_enter)" >> "$work/out.txt"
      record receive_perf "rate=$rate" "$work/out.txt"
      # The least any reader can do: cat on the same stream, one large read at a time.
      start_device "${stream[@]}"
      perf stat -x, -e raw_syscalls:sys_enter,task-clock -o "$work/perf.txt" \
        timeout "$((stream_seconds + 2))" cat "$(device_tty)" > "$work/cat.bin" || true
      {
        echo "cpu_s=$(echo "scale=3; $(perf_count task-clock) / 1000" | bc)"
        echo "bytes=$(stat -c %s "$work/cat.bin")"
        echo "syscalls=$(perf_count raw_syscalls:sys_enter)"
      } > "$work/out.txt"
      record receive_cat "rate=$rate" "$work/out.txt"
    done
  done
  stop_device
fi

if wanted compare; then
  echo "== CPU against picocom and tio (${compare_seconds}s of a byte a millisecond)"
  # The same stream for each program in turn, run by run. Ours is the real window on Xvfb from
  # the port's open (bench/window_cpu.sh; its device streams for as long as it is measured).
  # picocom and tio are general serial terminals from Debian, each run for as long as the
  # stream lasts, CPU from getrusage of the whole process (bash's time), start-up included.
  # They read the port and write what came to stdout, here a file; stdin is a pipe kept open,
  # since at its end both quit.
  for run in $(seq "$compare_repeats"); do
    for terminal in varnoth picocom tio; do
      TIMEFORMAT='cpu_s=%U+%S'
      case $terminal in
        varnoth)
          stop_device
          bench/window_cpu.sh "$bin/shell/qt/varnoth-terminal" "$bin/tools/varnoth-simdevice" \
            "$compare_seconds" "${compare_stream[@]}" > "$work/time.txt"
          : > "$work/extra.txt"
          ;;
        picocom)
          start_device "${compare_stream[@]}" --stream-bytes "$((960 * compare_seconds))"
          { time timeout "$compare_seconds" picocom -b 9600 --quiet --nolock "$(device_tty)" \
              < <(sleep "$((compare_seconds + 2))") > "$work/shown.bin" || true; } \
            2> "$work/time.txt"
          echo "bytes=$(stat -c %s "$work/shown.bin")" > "$work/extra.txt"
          ;;
        tio)
          start_device "${compare_stream[@]}" --stream-bytes "$((960 * compare_seconds))"
          # tio writes to a file or /dev/null through a stdio buffer, so what it showed is not
          # counted.
          { time timeout "$compare_seconds" tio -b 9600 --mute "$(device_tty)" \
              < <(sleep "$((compare_seconds + 2))") > /dev/null || true; } 2> "$work/time.txt"
          : > "$work/extra.txt"
          ;;
      esac
      {
        echo "cpu_s=$(sed -n 's/^cpu_s=//p' "$work/time.txt" | bc -l)"
        echo "seconds=$compare_seconds"
        cat "$work/extra.txt"
      } > "$work/out.txt"
      record compare "terminal=$terminal" "$work/out.txt"
    done
  done
  stop_device
fi

if wanted log-cpu; then
  echo "== CPU of the window with the log off and on (${compare_seconds}s of a byte a millisecond)"
  # As the comparison measures ours, the two taking turns, the first of a pair changing from
  # pair to pair so that neither always runs on a machine warmed by the other. The log is a new
  # file on the disk the bench works on, whose kind is recorded.
  for run in $(seq "$compare_repeats"); do
    order="off on"
    [ $((run % 2)) -eq 0 ] && order="on off"
    for log in $order; do
      rm -f "$work/session.log"
      log_option=()
      [ "$log" = on ] && log_option=(--log "$work/session.log")
      stop_device
      bench/window_cpu.sh "${log_option[@]}" "$bin/shell/qt/varnoth-terminal" \
        "$bin/tools/varnoth-simdevice" "$compare_seconds" "${compare_stream[@]}" > "$work/time.txt"
      {
        echo "cpu_s=$(sed -n 's/^cpu_s=//p' "$work/time.txt" | bc -l)"
        echo "seconds=$compare_seconds"
        if [ "$log" = on ]; then
          echo "log_bytes=$(stat -c %s "$work/session.log")"
          echo "log_lines=$(grep -c ' device   ' "$work/session.log")"
          echo "log_fs=$(df --output=fstype "$work" | tail -n 1)"
        fi
      } > "$work/out.txt"
      record log_cpu "log=$log" "$work/out.txt"
    done
  done
fi

if wanted log-kill; then
  echo "== what the log keeps of a window killed during a stream ($log_kills kills)"
  # The same stream; each kill at a moment of its own (bench/log_kill.sh).
  for run in $(seq "$log_kills"); do
    stop_device
    bench/log_kill.sh "$bin/shell/qt/varnoth-terminal" "$bin/tools/varnoth-simdevice" \
      "${compare_stream[@]}" > "$work/out.txt"
    record log_kill "run=$run" "$work/out.txt"
  done
fi

if wanted pane; then
  echo "== pane cost ($pane_appends appends of 1,000 bytes)"
  for run in $(seq "$repeats"); do
    "$bin/bench/qt_pane_bench" "$pane_appends" > "$results/qt_pane_$run.csv"
  done
fi

if wanted idle; then
  echo "== footprint and idle (${idle_seconds}s)"
  for run in $(seq "$repeats"); do
    "$bin/bench/terminal_bench" --seconds "$idle_seconds" > "$work/out.txt"
    record idle "port=none" "$work/out.txt"
    start_device --answer none --id none
    "$bin/bench/terminal_bench" --type "open 1" --seconds "$idle_seconds" > "$work/out.txt"
    record idle "port=silent" "$work/out.txt"
    start_device --stream 0
    "$bin/bench/terminal_bench" --type "open 1" --seconds "$stream_seconds" > "$work/out.txt"
    record full_pane "stream=0" "$work/out.txt"
  done
  stop_device
fi

if wanted soak; then
  echo "== memory over a long run ($soak_minutes min, the feeds side by side)"
  SOAK_MINUTES=$soak_minutes bench/soak.sh "$bin/shell/qt/varnoth-terminal" \
    "$bin/tools/varnoth-simdevice" "$results"
fi

# The Windows program's pane cost, idle load and ticks under a stream, as wanted.
windows_appends=0 windows_idle_seconds=0 windows_stream_seconds=0
wanted pane && windows_appends=$windows_pane_appends
wanted idle && windows_idle_seconds=$idle_seconds
wanted receive && windows_stream_seconds=$stream_seconds
if [ $((windows_appends + windows_idle_seconds + windows_stream_seconds)) -gt 0 ]; then
  echo "== the Windows program under wine"
  tools/run-windows-bench.sh "$windows_appends" "$repeats" "$windows_idle_seconds" "$results" \
    "$windows_stream_seconds"
fi

if wanted idle; then
  {
    for exe in build/windows-x86_64/varnoth-terminal.exe build/windows-i686/varnoth-terminal.exe; do
      [ -f "$exe" ] && echo "$exe $(stat -c %s "$exe")"
    done
    for exe in build/windows-x86_64/varnoth-upload.exe build/windows-i686/varnoth-upload.exe; do
      [ -f "$exe" ] && echo "$exe $(stat -c %s "$exe")"
    done
    echo "build/release/shell/qt/varnoth-terminal $(stat -c %s build/release/shell/qt/varnoth-terminal)"
    echo "build/release/shell/upload/varnoth-upload $(stat -c %s build/release/shell/upload/varnoth-upload)"
  } > "$results/sizes.txt"
fi

python3 bench/report.py "$results"
echo "Wrote $results/report.md"
