"""Turns the raw figures bench/run.sh wrote into bench/results/report.md and its plots."""
import csv
import glob
import os
import statistics
import subprocess
import sys

STREAM_LINE_BYTES = 41  # "stream 000001 abcdefghijklmnopqrstuvwxyz\n"
TICK_BOUND_LINES_PER_SECOND = 10.0  # one acknowledged line per 100 ms tick
LONGEST_TICK_TARGET_MS = 200.0
SYSCALLS_PER_BYTE_TRICKLE_TARGET = 2.2  # 960 B/s, one byte a write
SYSCALLS_PER_BYTE_FLOOD_TARGET = 0.05
SOAK_PLATEAU_TARGET_MB = 100.0
SOAK_GROWTH_TARGET_MB_PER_MINUTE = 0.1
SOAK_FEEDS = {"numbered": "numbered lines of 41 bytes", "empty": "empty lines (LF only)",
              "mixed": "mixed: 1 numbered line in 4, the others empty"}

# The Linux program before a tick's read was bounded in time, from the raw figures of the run of
# 2026-12-06T20:23Z (bench/results/receive*.txt as committed then), one value a run. Its 960 B/s
# stream came in writes of about ten bytes every 10 ms; the bytes still never paused for 50 ms.
BEFORE_DATE = "2026-12-06"
BEFORE = {
    "rate=960": {"longest_tick_ms": [29903.5, 29912.5], "max_tick_gap_ms": [29904.9, 29914.6],
                 "syscalls_per_byte": [36926 / (703 * 41), 36837 / (703 * 41)],
                 "cpu_s": [0.154, 0.154], "cat_cpu_s": [0.157, 0.482]},
    "rate=0": {"longest_tick_ms": [138.7, 140.8], "max_tick_gap_ms": [140.8, 142.5],
               "syscalls_per_byte": [264577 / (6394 * 41), 330085 / (7992 * 41)],
               "cpu_s": [31.565, 31.199], "cat_cpu_s": [17.364, 17.924],
               "bytes": [450753 * 41, 474729 * 41],
               "cat_bytes": [2601006589, 2657412095]},
}
STREAM_NAMES = {"rate=960": "960 B/s, one byte a write", "rate=0": "as fast as it goes"}


def runs(results, name):
    """Each run of a measurement: (label, {key: value}) from '<label> k=v k=v ...' lines."""
    path = os.path.join(results, name + ".txt")
    if not os.path.exists(path):
        return []
    parsed = []
    for line in open(path):
        words = line.split()
        if not words:
            continue
        values = {}
        for word in words[1:]:
            key, _, value = word.partition("=")
            try:
                values[key] = float(value)
            except ValueError:
                values[key] = value
        parsed.append((words[0], values))
    return parsed


def summary(values, digits=2):
    """Median with the spread (lowest to highest) of repeated runs."""
    values = [v for v in values if v is not None]
    if not values:
        return "n/a"
    fmt = "{:,.%df}" % digits
    median = fmt.format(statistics.median(values))
    if len(values) == 1:
        return median + " (1 run)"
    return "%s (%s to %s, %d runs)" % (median, fmt.format(min(values)), fmt.format(max(values)),
                                       len(values))


def select(parsed, label, key):
    return [values.get(key) for name, values in parsed if name == label]


def verdict(met):
    return "**met**" if met else "**missed**"


def percentile(sorted_values, fraction):
    return sorted_values[min(len(sorted_values) - 1, int(fraction * len(sorted_values)))]


def plot(script):
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def soak_series(path):
    """A soak run's header fields and its samples as (minutes, MB)."""
    header, samples = {}, []
    for line in open(path):
        if line.startswith("#"):
            header = dict(word.split("=", 1) for word in line[1:].split())
        elif line.strip():
            seconds, kib = line.split()
            samples.append((int(seconds) / 60.0, int(kib) * 1024 / 1e6))
    return header, samples


def slope(points):
    """Least-squares slope of y over x."""
    mean_x = statistics.fmean(x for x, _ in points)
    mean_y = statistics.fmean(y for _, y in points)
    return (sum((x - mean_x) * (y - mean_y) for x, y in points)
            / sum((x - mean_x) ** 2 for x, _ in points))


def load_note(machine, *parsed):
    """The 1-minute load average the runs ended under, where they recorded it."""
    loads = [v["load1"] for runs_ in parsed for n, v in runs_ if "load1" in v]
    if not loads:
        return ""
    return ("The machine's 1-minute load average as these runs ended: %.1f to %.1f, on %s "
            "cores.\n" % (min(loads), max(loads), machine["cores"]))


def made_by(results, machine):
    """The date of the run each section's figures come from: a run of some sections
    (BENCH_SECTIONS) replaces the figures of the full run before it."""
    dates = {}
    path = os.path.join(results, "partial_runs.txt")
    if os.path.exists(path):
        for line in open(path):
            fields = dict(word.split("=", 1) for word in line.split())
            for section in fields["sections"].split(","):
                dates[section] = "%s (REPEATS=%s)" % (fields["date"], fields["repeats"])
    return lambda section: "*Figures from the run of %s.*\n" % dates.get(section, machine["date"])


def main(results):
    machine = dict(line.strip().split("=", 1) for line in open(os.path.join(results, "machine.txt")))
    out = []
    out.append("# Benchmark report\n")
    out.append("Made by `bench/run.sh` on %s: %s, %s cores, %s GiB, Linux %s, Qt %s, wine %s. "
               "Medians over repeated runs, with the lowest and highest run in brackets.\n"
               % (machine["date"], machine["cpu"].replace("_", " "), machine["cores"],
                  machine["memory_gib"], machine["kernel"], machine["qt"], machine["wine"]))
    run_of = made_by(results, machine)

    # Upload pace.
    upload = runs(results, "upload")
    out.append("## Upload pace\n")
    out.append(run_of("upload"))
    out.append("A program file uploaded to the simulated device, which answers each line with '+' "
               "after the given delay. The bound is one acknowledged line per 100 ms tick: "
               "10 lines a second.\n")
    out.append("| answer delay | lines per second | of the bound | longest gap between ticks (ms) "
               "| longest tick (ms) |")
    out.append("|---|---|---|---|---|")
    pace = {}
    for delay in ("delay=0", "delay=20", "delay=80"):
        rates = [v["lines"] / v["upload_s"] for n, v in upload if n == delay and "upload_s" in v]
        pace[delay] = rates
        ratios = [100 * r / TICK_BOUND_LINES_PER_SECOND for r in rates]
        out.append("| %s ms | %s | %s %% | %s | %s |" % (
            delay.split("=")[1], summary(rates), summary(ratios, 1),
            summary(select(upload, delay, "max_tick_gap_ms"), 1),
            summary(select(upload, delay, "longest_tick_ms"), 1)))
    if pace["delay=0"]:
        met = statistics.median(pace["delay=0"]) >= 0.95 * TICK_BOUND_LINES_PER_SECOND
        out.append("\nTarget, at least 95 %% of the bound with a device that answers at once: %s.\n"
                   % verdict(met))
    with open(os.path.join(results, "upload_pace.dat"), "w") as data:
        for delay, rates in pace.items():
            for rate in rates:
                data.write("%s %f\n" % (delay.split("=")[1], rate))

    # Upload pace of the upload program.
    program = runs(results, "upload_program")
    if program:
        out.append("## Upload pace of varnoth-upload\n")
        out.append(run_of("upload-program"))
        out.append("`varnoth-upload --quiet --port 1` uploads the same file to the simulated device "
                   "answering '+' at once, timed from outside as a script runs it: start, connect, "
                   "upload, exit. CPU is the process's user and system time.\n")
        out.append("| lines | lines per second | of the bound | elapsed (s) | CPU (s) "
                   "| exit status | lines the device received |")
        out.append("|---|---|---|---|---|---|---|")
        rates = [v["lines"] / v["elapsed_s"] for n, v in program if v.get("elapsed_s")]
        out.append("| %d | %s | %s %% | %s | %s | %s | %s |" % (
            program[0][1]["lines"], summary(rates),
            summary([100 * r / TICK_BOUND_LINES_PER_SECOND for r in rates], 1),
            summary(select(program, "delay=0", "elapsed_s"), 2),
            summary(select(program, "delay=0", "cpu_s"), 3),
            ", ".join("%d" % v["exit"] for n, v in program),
            ", ".join("%d" % v["received_lines"] for n, v in program)))
        if rates:
            met = statistics.median(rates) >= 0.95 * TICK_BOUND_LINES_PER_SECOND
            out.append("\nTarget, at least 95 %% of the bound, as for the window: %s.\n"
                       % verdict(met))

    # Responsiveness under a stream.
    receive = runs(results, "receive")
    counted = runs(results, "receive_syscalls")
    cat = runs(results, "receive_cat")
    win32_stream = runs(results, "win32_stream")
    out.append("## Responsiveness under a continuous stream\n")
    out.append(run_of("receive"))
    out.append("The simulated device streams numbered lines without a pause of 50 ms, at the "
               "9600-baud byte rate (960 bytes a second, one byte a write, so a byte about every "
               "millisecond) and as fast as the pseudo-terminal takes them. Each program runs its "
               "own window and core: the Linux one on Qt's offscreen platform, the Windows one "
               "(x86_64) under wine. A tick is one run of the 100 ms poll timer's work; while a "
               "tick runs, the window takes no input and paints nothing. Before: the run of %s, "
               "when a tick read until the line was quiet for 50 ms (the Windows program was not "
               "measured then).\n" % BEFORE_DATE)
    out.append(load_note(machine, receive, win32_stream))
    out.append("| program | stream | longest tick (ms) | before | longest time between two ticks "
               "(ms) | before | bytes received |")
    out.append("|---|---|---|---|---|---|---|")
    longest = {}
    for program, parsed in (("Linux", receive), ("Windows (wine)", win32_stream)):
        for rate in ("rate=960", "rate=0"):
            ticks = select(parsed, rate, "longest_tick_ms")
            if not ticks:
                continue
            longest.setdefault(program, []).extend(ticks)
            before = BEFORE[rate] if program == "Linux" else {}
            out.append("| %s | %s | %s | %s | %s | %s | %s |" % (
                program, STREAM_NAMES[rate], summary(ticks, 1),
                summary(before.get("longest_tick_ms", []), 1),
                summary(select(parsed, rate, "max_tick_gap_ms"), 1),
                summary(before.get("max_tick_gap_ms", []), 1),
                summary([v["last_stream_line"] * STREAM_LINE_BYTES
                         for n, v in parsed if n == rate], 0)))
    for program, ticks in longest.items():
        out.append("\nTarget for the %s program, no tick longer than %.0f ms at any rate in any "
                   "run: %s." % (program, LONGEST_TICK_TARGET_MS,
                                 verdict(max(ticks) <= LONGEST_TICK_TARGET_MS)))
    out.append("")

    # Receive cost.
    out.append("## Receive cost\n")
    out.append(run_of("receive"))
    out.append("The same streams read by the Linux program. CPU comes from runs without tracing. "
               "System calls are those of the whole process (core, serial link, Qt and its "
               "threads, start-up included), counted twice in runs of their own: by the kernel's "
               "`raw_syscalls:sys_enter` tracepoint (`perf stat`), which leaves the program's pace "
               "alone, and by `strace -c`, as before. strace stops the program at every call, so "
               "on a paced stream bytes pile up between its reads and it counts fewer calls per "
               "byte than the program makes unobserved; the targets are judged on the first. "
               "`cat` reading the same stream (counted by strace) is the floor any reader can "
               "reach. Before: the run of %s, which read one byte a call; its 960 B/s stream came "
               "ten bytes a write, so its figure there is not for the same stream.\n"
               % BEFORE_DATE)
    out.append(load_note(machine, receive, counted, cat, runs(results, "receive_perf")))
    out.append("| stream | bytes received | our CPU (s) | before | our system calls per byte "
               "(perf) | (strace) | before (strace) | `cat`: bytes | `cat` CPU (s) "
               "| `cat` system calls per byte |")
    out.append("|---|---|---|---|---|---|---|---|---|---|")
    traced = runs(results, "receive_perf")

    def calls_per_byte(parsed, rate):
        return [v["syscalls"] / (v["last_stream_line"] * STREAM_LINE_BYTES) for n, v in parsed
                if n == rate and v.get("last_stream_line") and v.get("syscalls") is not None]

    per_byte = {}
    for rate in ("rate=960", "rate=0"):
        received = [v["last_stream_line"] * STREAM_LINE_BYTES for n, v in receive if n == rate]
        cat_calls = [v["syscalls"] / v["bytes"] for n, v in cat if n == rate and v.get("bytes")]
        per_byte[rate] = calls_per_byte(traced, rate) or calls_per_byte(counted, rate)
        out.append("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            STREAM_NAMES[rate], summary(received, 0),
            summary(select(receive, rate, "cpu_s"), 3), summary(BEFORE[rate]["cpu_s"], 3),
            summary(calls_per_byte(traced, rate), 3), summary(calls_per_byte(counted, rate), 3),
            summary(BEFORE[rate]["syscalls_per_byte"], 3),
            summary(select(cat, rate, "bytes"), 0), summary(select(cat, rate, "cpu_s"), 3),
            summary(cat_calls, 4)))
    if per_byte["rate=960"]:
        out.append("\nTarget, at most %.1f system calls per byte at 960 B/s one byte a write: %s."
                   % (SYSCALLS_PER_BYTE_TRICKLE_TARGET, verdict(
                       statistics.median(per_byte["rate=960"]) <= SYSCALLS_PER_BYTE_TRICKLE_TARGET)))
    if per_byte["rate=0"]:
        out.append("\nTarget, at most %.2f system calls per byte as fast as it goes: %s."
                   % (SYSCALLS_PER_BYTE_FLOOD_TARGET, verdict(
                       statistics.median(per_byte["rate=0"]) <= SYSCALLS_PER_BYTE_FLOOD_TARGET)))
    before = BEFORE["rate=0"]
    out.append("\nAs fast as it goes, the programs take what they can: before, %s bytes in %s CPU "
               "seconds against `cat`'s %s bytes in %s CPU seconds. CPU seconds alone compare "
               "unequal work; the bytes received say how much each did.\n" % (
                   summary(before["bytes"], 0), summary(before["cpu_s"], 3),
                   summary(before["cat_bytes"], 0), summary(before["cat_cpu_s"], 3)))

    # CPU against other serial terminals.
    compare = runs(results, "compare")
    if compare:
        out.append("## CPU against picocom and tio\n")
        out.append(run_of("compare"))
        out.append("The simulated device sends one byte a write at 960 bytes a second (a byte "
                   "about every millisecond) for %.0f seconds; each program in turn reads that "
                   "stream for as long as it lasts. picocom and tio are general serial terminals "
                   "from Debian, run without a terminal (stdin a pipe kept open, output to "
                   "/dev/null or a file); the Linux program is its window and core on Qt's "
                   "offscreen platform. CPU is user and system time of the whole process from "
                   "`getrusage` (bash's `time`), start-up included for all three.\n"
                   % compare[0][1]["seconds"])
        out.append(load_note(machine, compare))
        out.append("| program | CPU (s) | bytes shown |")
        out.append("|---|---|---|")
        names = {"terminal=varnoth": "Linux program (whole process)", "terminal=picocom":
                 "picocom", "terminal=tio": "tio"}
        for label, name in names.items():
            shown = [b for b in select(compare, label, "bytes") if b is not None]
            out.append("| %s | %s | %s |" % (
                name, summary(select(compare, label, "cpu_s"), 3),
                summary(shown, 0) if shown else "not counted (stdio buffer)"))
        out.append("| Linux program, event loop only (from the port's open) | %s | |"
                   % summary(select(compare, "terminal=varnoth", "loop_cpu_s"), 3))
        ours = select(compare, "terminal=varnoth", "cpu_s")
        others = select(compare, "terminal=picocom", "cpu_s") + select(compare, "terminal=tio",
                                                                         "cpu_s")
        if ours and others:
            below = all(statistics.median(ours) < statistics.median(
                select(compare, label, "cpu_s")) for label in ("terminal=picocom", "terminal=tio"))
            out.append("\nTarget, the Linux program's CPU below both picocom's and tio's "
                       "(medians, whole process): %s.\n" % verdict(below))

    # Pane cost.
    out.append("## Pane cost\n")
    out.append(run_of("pane"))
    out.append("Time of one append of 1,000 bytes (ten lines) and the repaint it causes, as the "
               "pane fills from empty to its 1,000,000 characters and then keeps making room. "
               "Spread: the 90th percentile over the 10th.\n")
    out.append("| pane | appends | median (µs) | 10th percentile (µs) | 90th percentile (µs) "
               "| slowest append (µs) | 90th / 10th |")
    out.append("|---|---|---|---|---|---|---|")
    plots = []
    verdicts = []
    for kind, pattern in (("Qt (Linux)", "qt_pane_*.csv"), ("Win32 edit control (wine)",
                                                            "win32_pane_*.csv")):
        files = sorted(glob.glob(os.path.join(results, pattern)))
        if not files:
            continue
        times = []
        for path in files:
            times += [float(row["microseconds"]) for row in csv.DictReader(open(path))]
        times.sort()
        p10, p90 = percentile(times, 0.1), percentile(times, 0.9)
        out.append("| %s | %d | %.0f | %.0f | %.0f | %.0f | %.2f |" % (
            kind, len(times), statistics.median(times), p10, p90, times[-1], p90 / p10))
        verdicts.append("Target for the %s pane, flat (90th percentile at most 3× the 10th): %s."
                        % (kind, verdict(p90 <= 3 * p10)))
        plots.append((kind, files[0]))
    out.append("")
    out += [line + "\n" for line in verdicts]
    if plots:
        lines = ", ".join("'%s' using 2:3 every ::1 with dots title '%s'" % (path, kind)
                          for kind, path in plots)
        plot("""set terminal pngcairo size 900,500
set output '%s'
set datafile separator ','
set xlabel 'pane size before the append (characters)'
set ylabel 'append and repaint (µs)'
set logscale y
set key top left
plot %s
""" % (os.path.join(results, "pane_append.png"), lines))
        out.append("![Append time against pane size](pane_append.png)\n")
        out.append("The 90th/10th reading hides a trend a plot shows: under wine the edit "
                   "control's append time grows with the text it holds.\n")

    # Footprint.
    idle = runs(results, "idle")
    full = runs(results, "full_pane")
    out.append("## Footprint\n")
    out.append(run_of("idle"))
    out.append("| figure | value |")
    out.append("|---|---|")
    out.append("| peak memory, idle without a port (KiB) | %s |"
               % summary(select(idle, "port=none", "peak_rss_kb"), 0))
    out.append("| peak memory, pane full after a flood (KiB) | %s |"
               % summary(select(full, "stream=0", "peak_rss_kb"), 0))
    out.append("| pane size after the flood (characters) | %s |"
               % summary(select(full, "stream=0", "pane_bytes"), 0))
    out.append("| start of main() to the first tick (ms) | %s |"
               % summary(select(idle, "port=none", "first_tick_ms"), 1))
    for line in open(os.path.join(results, "sizes.txt")):
        path, size = line.split()
        out.append("| size of `%s` (bytes) | %s |" % (path, "{:,}".format(int(size))))
    out.append("")

    # Memory over a long run.
    soaks = [(name, os.path.join(results, "%s_%s.dat" % (name, feed)), feed)
             for feed in SOAK_FEEDS for name in ("soak", "soak_before")
             if os.path.exists(os.path.join(results, "%s_%s.dat" % (name, feed)))]
    if soaks:
        out.append("## Memory over a long run\n")
        out.append(run_of("soak"))
        out.append("The Linux program on a virtual X server (Xvfb, `bench/soak.sh`), its port the "
                   "simulated device streaming one shape of line (`--stream-lines`), its resident "
                   "memory (VmRSS) sampled from /proc; one run per feed. At 20,000 bytes a second "
                   "the pane is full within a minute (its 1,000,000 characters after about 50 s "
                   "of numbered lines, its 100,000 lines after 5 s of empty ones), so the second "
                   "half of each run counts as full, and the plateau is the median there. The "
                   "text document reallocates its storage as it goes, so a full pane's memory "
                   "saws up and down by a few MB; a straight line fitted to that depends on "
                   "where the teeth fall. The growth is therefore the rise of the highest sample "
                   "from the third quarter of the run to the fourth, per minute; the fitted "
                   "slope is given beside it. Before: the program before the pane had a line "
                   "limit and rebuilt its document, run the same way where shown (for 4 minutes, while "
                   "another soak shared the machine).\n")
        out.append("| program | feed | bytes a second | run (min) | highest (MB) "
                   "| plateau once full (MB) | growth once full (MB a minute) | fitted slope |")
        out.append("|---|---|---|---|---|---|---|---|")
        verdicts = []
        top = SOAK_PLATEAU_TARGET_MB
        for name, path, feed in soaks:
            header, samples = soak_series(path)
            minutes = samples[-1][0]
            full = [(x, y) for x, y in samples if x >= minutes / 2]
            highest = max(y for _, y in samples)
            top = max(top, highest)
            plateau = statistics.median(y for _, y in full)
            third = max(y for x, y in full if x < minutes * 3 / 4)
            fourth = max(y for x, y in full if x >= minutes * 3 / 4)
            growth = (fourth - third) / (minutes / 4)
            out.append("| %s | %s | %s | %.1f | %.1f | %.1f | %+.3f | %+.3f |" % (
                "before" if name == "soak_before" else "now", SOAK_FEEDS[feed],
                "{:,}".format(int(header["rate"])), minutes, highest, plateau, growth,
                slope(full)))
            if name == "soak":
                verdicts.append(
                    "Targets for %s, highest at most %.0f MB and growth once full at most %.1f MB "
                    "a minute: %s, %s." % (SOAK_FEEDS[feed], SOAK_PLATEAU_TARGET_MB,
                                           SOAK_GROWTH_TARGET_MB_PER_MINUTE,
                                           verdict(highest <= SOAK_PLATEAU_TARGET_MB),
                                           verdict(growth <= SOAK_GROWTH_TARGET_MB_PER_MINUTE)))
        out.append("")
        out += [line + "\n" for line in verdicts]
        # One colour a feed; before dashed.
        curves = ", ".join(
            "'%s' using ($1/60):($2*1024/1e6) with lines linecolor %d %s title '%s%s'" % (
                path, list(SOAK_FEEDS).index(feed) + 1,
                "dashtype 2" if name == "soak_before" else "linewidth 2", feed,
                " (before)" if name == "soak_before" else "")
            for name, path, feed in soaks)
        plot("""set terminal pngcairo size 900,500
set output '%s'
set xlabel 'minutes since the port was opened'
set ylabel 'resident memory (MB)'
set yrange [0:%.0f]
set key outside right
plot %s, %.0f with lines dashtype 3 linecolor 'black' title 'target'
""" % (os.path.join(results, "soak_memory.png"), top * 1.1, curves, SOAK_PLATEAU_TARGET_MB))
        out.append("![Resident memory over the run, per feed](soak_memory.png)\n")

    # Idle.
    out.append("## Idle\n")
    out.append(run_of("idle"))
    out.append("| program | port | CPU seconds over the run | run (s) |")
    out.append("|---|---|---|---|")
    for label, port in (("port=none", "none"), ("port=silent", "open, device silent")):
        out.append("| Linux (offscreen) | %s | %s | %s |" % (
            port, summary(select(idle, label, "cpu_s"), 3), summary(select(idle, label, "elapsed_s"), 0)))
    win32_idle = runs(results, "win32_idle")
    for label, port in (("port=none", "none"), ("port=silent", "open, device silent")):
        if select(win32_idle, label, "cpu_s"):
            out.append("| Windows x86_64 (wine) | %s | %s | %s |" % (
                port, summary(select(win32_idle, label, "cpu_s"), 3),
                summary(select(win32_idle, label, "elapsed_s"), 0)))
    out.append("")

    if pace["delay=0"]:
        plot("""set terminal pngcairo size 700,450
set output '%s'
set xlabel 'device answer delay (ms)'
set ylabel 'lines per second'
set yrange [0:11]
set xrange [-10:90]
plot '%s' using 1:2 with points pointtype 7 title 'upload pace', 10 with lines title 'bound: one line a tick'
""" % (os.path.join(results, "upload_pace.png"), os.path.join(results, "upload_pace.dat")))
        out.append("![Upload pace against the device's answer delay](upload_pace.png)\n")

    with open(os.path.join(results, "report.md"), "w") as report:
        report.write("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "bench/results")
