"""Turns the raw figures bench/run.sh left in bench/results into report.md and its plots.

One function per section: each reads its own raw files, returns its markdown and draws its
plot. A section whose raw files are missing (not run on this machine yet) says so."""
import csv
import glob
import os
import statistics
import subprocess
import sys

STREAM_LINE_BYTES = 41  # "stream 000001 abcdefghijklmnopqrstuvwxyz\n"
TICK_BOUND_LINES_PER_SECOND = 10.0  # one acknowledged line per 100 ms tick
UPLOAD_PACE_TARGET = 0.95  # of the bound, with a device that answers at once
LONGEST_TICK_TARGET_MS = 200.0  # twice the poll period: the window still feels live
SYSCALLS_PER_BYTE_TRICKLE_TARGET = 2.2  # 960 B/s one byte a write: a read and a wait per byte
SYSCALLS_PER_BYTE_FLOOD_TARGET = 0.05  # a flood is read in large blocks
PANE_SPREAD_TARGET = 3.0  # a flat pane: 90th percentile at most this times the 10th
SOAK_PLATEAU_TARGET_MB = 100.0
SOAK_GROWTH_TARGET_MB_PER_MINUTE = 0.1
# A full pane's memory saws by a few MB every one to two minutes: the growth is judged only when
# a quarter of the run is longer than that.
SOAK_JUDGED_MINUTES = 6.0
SOAK_FEEDS = {"numbered": "numbered lines of 41 bytes", "empty": "empty lines (LF only)",
              "mixed": "mixed: 1 numbered line in 4, the others empty"}
STREAMS = {"rate=960": "960 B/s, one byte a write", "rate=0": "as fast as it goes"}
COMPARED = (("terminal=varnoth", "Linux program: its window on Xvfb, from the port's open"),
            ("terminal=picocom", "picocom: whole process"), ("terminal=tio", "tio: whole process"))


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


def select(parsed, label, key):
    return [values[key] for name, values in parsed if name == label and key in values]


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


def verdict(met):
    return "**met**" if met else "**missed**"


def percentile(sorted_values, fraction):
    return sorted_values[min(len(sorted_values) - 1, int(fraction * len(sorted_values)))]


def plot(script):
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def datablock(name, rows):
    """Figures inlined into a gnuplot script, so that no data file is left behind."""
    return "$%s << EOD\n%s\nEOD\n" % (name, "\n".join(" ".join(str(v) for v in row)
                                                     for row in rows))


class Context:
    """What every section needs besides its own raw files."""

    def __init__(self, results):
        self.results = results
        path = os.path.join(results, "machine.txt")
        self.machine = (dict(line.strip().split("=", 1) for line in open(path))
                        if os.path.exists(path) else {})
        # A run of some sections (BENCH_SECTIONS) replaces the figures of the run before it.
        # How many runs each figure is over, the tables say.
        self.dates = {}
        path = os.path.join(results, "partial_runs.txt")
        if os.path.exists(path):
            for line in open(path):
                fields = dict(word.split("=", 1) for word in line.split())
                for section in fields["sections"].split(","):
                    self.dates[section] = fields["date"]

    def made_by(self, *sections):
        dates = sorted({self.dates.get(s, self.machine.get("date", "unknown date"))
                        for s in sections})
        return "*Figures from the run of %s.*\n" % " and ".join(dates)

    def load_note(self, *parsed):
        """The 1-minute load average the runs ended under: timings on a shared machine are read
        against it."""
        loads = [v["load1"] for runs_ in parsed for _, v in runs_ if "load1" in v]
        if not loads:
            return ""
        return ("The machine's 1-minute load average as these runs ended: %.1f to %.1f, on %s "
                "cores.\n" % (min(loads), max(loads), self.machine.get("cores", "?")))


def missing(title, section):
    return ("## %s\n\nNo figures here yet: `BENCH_SECTIONS=%s bench/run.sh` makes them.\n"
            % (title, section))


def upload_pace(ctx):
    window = runs(ctx.results, "upload")
    program = runs(ctx.results, "upload_program")
    if not window and not program:
        return missing("Upload pace", "\"upload upload-program\"")
    out = ["## Upload pace\n", ctx.made_by("upload", "upload-program"),
           "A program file uploaded to the simulated device, which answers each line with '+' "
           "after the given delay. The bound is one acknowledged line per 100 ms tick: 10 lines "
           "a second. The window is the Linux program's window and core on Qt's offscreen "
           "platform, timed from \"rp!\" to the upload's end; `varnoth-upload --quiet --port 1` "
           "is timed from outside as a script runs it (start, connect, upload, exit).\n",
           "| program | answer delay | lines | lines per second | of the bound "
           "| longest gap between ticks (ms) | longest tick (ms) |",
           "|---|---|---|---|---|---|---|"]
    points = []
    at_once = {}
    for delay in ("delay=0", "delay=20", "delay=80"):
        rates = [v["lines"] / v["upload_s"] for n, v in window if n == delay and "upload_s" in v]
        if not rates:
            continue
        points += [(delay.split("=")[1], rate) for rate in rates]
        if delay == "delay=0":
            at_once["the window"] = rates
        out.append("| window | %s ms | %s | %s | %s %% | %s | %s |" % (
            delay.split("=")[1], summary(select(window, delay, "lines"), 0), summary(rates),
            summary([100 * r / TICK_BOUND_LINES_PER_SECOND for r in rates], 1),
            summary(select(window, delay, "max_tick_gap_ms"), 1),
            summary(select(window, delay, "longest_tick_ms"), 1)))
    rates = [v["lines"] / v["elapsed_s"] for _, v in program if v.get("elapsed_s")]
    if rates:
        at_once["varnoth-upload"] = rates
        out.append("| varnoth-upload | 0 ms | %s | %s | %s %% | | |" % (
            summary(select(program, "delay=0", "lines"), 0), summary(rates),
            summary([100 * r / TICK_BOUND_LINES_PER_SECOND for r in rates], 1)))
        out.append("\nvarnoth-upload's runs: CPU %s s; exit statuses %s; lines the device "
                   "received %s." % (summary(select(program, "delay=0", "cpu_s"), 3),
                                     ", ".join("%d" % v["exit"] for _, v in program),
                                     ", ".join("%d" % v["received_lines"] for _, v in program)))
    out.append("")
    for name, rates in at_once.items():
        out.append("Target for %s, at least %.0f %% of the bound with a device that answers "
                   "at once: %s.\n" % (name, 100 * UPLOAD_PACE_TARGET, verdict(
                       statistics.median(rates) >= UPLOAD_PACE_TARGET * TICK_BOUND_LINES_PER_SECOND)))
    series = [("window", points),
              ("upload", [(0, rate) for rate in at_once.get("varnoth-upload", [])])]
    series = [(name, rows) for name, rows in series if rows]
    plot("%sset terminal pngcairo size 700,450\nset output '%s'\n"
         "set xlabel 'device answer delay (ms)'\nset ylabel 'lines per second'\n"
         "set yrange [0:11]\nset xrange [-10:90]\nset key bottom left\nplot %s, "
         "10 with lines title 'bound: one line a tick'\n" % (
             "".join(datablock(name, rows) for name, rows in series),
             os.path.join(ctx.results, "upload_pace.png"),
             ", ".join("$%s using 1:2 with points pointtype %d title '%s'" % (
                 name, 7 if name == "window" else 6,
                 "window" if name == "window" else "varnoth-upload") for name, _ in series)))
    out.append("![Upload pace against the device's answer delay](upload_pace.png)\n")
    return "\n".join(out)


def stream_ticks(ctx):
    linux = runs(ctx.results, "receive")
    windows = runs(ctx.results, "win32_stream")
    if not linux and not windows:
        return missing("Ticks under a continuous stream", "receive")
    out = ["## Ticks under a continuous stream\n", ctx.made_by("receive"),
           "The simulated device streams numbered lines without a pause of 50 ms, at the "
           "9600-baud byte rate (960 bytes a second, one byte a write, so a byte about every "
           "millisecond) and as fast as the pseudo-terminal takes them. Each program runs its "
           "own window and core: the Linux one on Qt's offscreen platform, the Windows one "
           "(x86_64) under wine. A tick is one run of the 100 ms poll timer's work; while a tick "
           "runs, the window takes no input and paints nothing.\n",
           ctx.load_note(linux, windows),
           "| program | stream | longest tick (ms) | longest time between two ticks (ms) "
           "| bytes received |",
           "|---|---|---|---|---|"]
    verdicts = []
    for program, parsed in (("Linux", linux), ("Windows (wine)", windows)):
        ticks = []
        for rate, stream in STREAMS.items():
            longest = select(parsed, rate, "longest_tick_ms")
            if not longest:
                continue
            ticks += longest
            out.append("| %s | %s | %s | %s | %s |" % (
                program, stream, summary(longest, 1),
                summary(select(parsed, rate, "max_tick_gap_ms"), 1),
                summary([line * STREAM_LINE_BYTES
                         for line in select(parsed, rate, "last_stream_line")], 0)))
        if ticks:
            verdicts.append("Target for the %s program, no tick longer than %.0f ms at any rate "
                            "in any run: %s.\n" % (program, LONGEST_TICK_TARGET_MS,
                                                   verdict(max(ticks) <= LONGEST_TICK_TARGET_MS)))
    return "\n".join(out + [""] + verdicts)


def receive_cost(ctx):
    ours = runs(ctx.results, "receive")
    counted = runs(ctx.results, "receive_perf")
    cat = runs(ctx.results, "receive_cat")
    if not ours:
        return missing("Receive cost", "receive")
    out = ["## Receive cost\n", ctx.made_by("receive"),
           "The same streams read by the Linux program and by `cat`, the floor any reader can "
           "reach (one large read at a time). System calls are those of the whole process "
           "(for ours: core, serial link, Qt and its threads, start-up included), counted by the "
           "kernel's `raw_syscalls:sys_enter` tracepoint (`perf stat`), which leaves the "
           "program's pace alone. Our CPU comes from a run of its own without perf, from the "
           "port's open; `cat`'s is perf's task clock of its counted run.\n",
           ctx.load_note(ours, counted, cat),
           "| stream | bytes received | our CPU (s) | our system calls per byte | `cat`: bytes "
           "| `cat` CPU (s) | `cat` system calls per byte |",
           "|---|---|---|---|---|---|---|"]
    per_byte = {}
    for rate, stream in STREAMS.items():
        per_byte[rate] = [v["syscalls"] / (v["last_stream_line"] * STREAM_LINE_BYTES)
                          for n, v in counted
                          if n == rate and v.get("last_stream_line") and "syscalls" in v]
        out.append("| %s | %s | %s | %s | %s | %s | %s |" % (
            stream, summary([line * STREAM_LINE_BYTES
                             for line in select(ours, rate, "last_stream_line")], 0),
            summary(select(ours, rate, "cpu_s"), 3), summary(per_byte[rate], 3),
            summary(select(cat, rate, "bytes"), 0), summary(select(cat, rate, "cpu_s"), 3),
            summary([v["syscalls"] / v["bytes"] for n, v in cat
                     if n == rate and v.get("bytes") and "syscalls" in v], 4)))
    out.append("")
    for rate, target in (("rate=960", SYSCALLS_PER_BYTE_TRICKLE_TARGET),
                         ("rate=0", SYSCALLS_PER_BYTE_FLOOD_TARGET)):
        if per_byte[rate]:
            out.append("Target, at most %s system calls per byte (%s): %s.\n" % (
                target, STREAMS[rate], verdict(statistics.median(per_byte[rate]) <= target)))
    out.append("As fast as it goes, each reader takes what it can: compare CPU seconds with the "
               "bytes each one received.\n")
    return "\n".join(out)


def compare(ctx):
    parsed = runs(ctx.results, "compare")
    if not parsed:
        return missing("CPU against picocom and tio", "compare")
    seconds = parsed[0][1].get("seconds", 0)
    out = ["## CPU against picocom and tio\n", ctx.made_by("compare"),
           "The simulated device sends a gapless stream, one byte a write at 960 bytes a second "
           "(a byte about every millisecond); each program reads it for %.0f seconds, the three "
           "taking turns run by run. Ours is the real window on a virtual X server (Xvfb, "
           "`QT_QPA_PLATFORM=xcb`), \"open 1\" typed into it with xdotool; its CPU is user and "
           "system time from /proc/PID/stat, sampled once the port is open and again %.0f "
           "seconds later (the X server's own time is not in it). picocom and tio are general serial terminals from Debian, run without "
           "a terminal (stdin a pipe kept open, output to a file or /dev/null); theirs is the "
           "whole process's (bash's `time`), start-up included.\n" % (seconds, seconds),
           ctx.load_note(parsed),
           "| program | CPU (s) | bytes shown |", "|---|---|---|"]
    medians = {}
    for label, name in COMPARED:
        cpu = select(parsed, label, "cpu_s")
        if cpu:
            medians[label] = statistics.median(cpu)
        shown = select(parsed, label, "bytes")
        out.append("| %s | %s | %s |" % (name, summary(cpu, 3),
                                         summary(shown, 0) if shown else "not counted"))
    out.append("")
    peers = [medians[label] for label in ("terminal=picocom", "terminal=tio") if label in medians]
    if "terminal=varnoth" in medians and peers:
        out.append("Target, ours at most the better of picocom and tio (medians): %.3f against "
                   "%.3f: %s.\n" % (medians["terminal=varnoth"], min(peers),
                                    verdict(medians["terminal=varnoth"] <= min(peers))))
    else:
        out.append("Target, ours at most the better of picocom and tio: not judged, a program's "
                   "figures are missing.\n")
    return "\n".join(out)


def pane_phases(path):
    """One pane run's append times, split where the pane first had to make room: filling
    from empty, then full."""
    rows = [(int(r["pane_bytes"]), float(r["microseconds"])) for r in csv.DictReader(open(path))]
    full_from = next((i for i in range(len(rows) - 1) if rows[i + 1][0] < rows[i][0]), len(rows))
    return [t for _, t in rows[:full_from]], [t for _, t in rows[full_from:]]


def pane_cost(ctx):
    kinds = [(kind, sorted(glob.glob(os.path.join(ctx.results, pattern))))
             for kind, pattern in (("Qt (Linux)", "qt_pane_*.csv"),
                                   ("Win32 edit control (wine)", "win32_pane_*.csv"))]
    kinds = [(kind, files) for kind, files in kinds if files]
    if not kinds:
        return missing("Pane cost", "pane")
    out = ["## Pane cost\n", ctx.made_by("pane"),
           "Time of one append of 1,000 bytes (ten lines) and the repaint it causes, while the "
           "pane fills from empty to its 1,000,000 characters and then, full, makes room for "
           "each append. All runs of a pane together.\n",
           "| pane | phase | appends | median (µs) | 99th percentile (µs) | slowest (µs) |",
           "|---|---|---|---|---|---|"]
    verdicts = []
    for kind, files in kinds:
        phases = ([], [])
        for path in files:
            filling, full = pane_phases(path)
            phases[0].extend(filling)
            phases[1].extend(full)
        for phase, times in zip(("filling", "full, making room"), phases):
            if times:
                times.sort()
                out.append("| %s | %s | %d | %.0f | %.0f | %.0f |" % (
                    kind, phase, len(times), statistics.median(times), percentile(times, 0.99),
                    times[-1]))
        times = sorted(phases[0] + phases[1])
        p10, p90 = percentile(times, 0.1), percentile(times, 0.9)
        verdicts.append("Target for the %s pane, flat (over all appends the 90th percentile, "
                        "%.0f µs, at most %.0f× the 10th, %.0f µs): %s.\n" % (
                            kind, p90, PANE_SPREAD_TARGET, p10,
                            verdict(p90 <= PANE_SPREAD_TARGET * p10)))
    out.append("")
    plot("set terminal pngcairo size 900,500\nset output '%s'\nset datafile separator ','\n"
         "set xlabel 'append (the pane is full from about the 1,000th)'\n"
         "set ylabel 'append and repaint (µs)'\nset logscale y\nset key top left\nplot %s\n" % (
             os.path.join(ctx.results, "pane_append.png"),
             ", ".join("'%s' using 1:3 every ::1 with points pointtype 7 pointsize 0.2 title '%s'" % (files[0], kind)
                       for kind, files in kinds)))
    out += verdicts
    out.append("![Append time, append by append, of one run per pane](pane_append.png)\n")
    return "\n".join(out)


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


def soak(ctx):
    feeds = [(feed, os.path.join(ctx.results, "soak_%s.dat" % feed)) for feed in SOAK_FEEDS]
    feeds = [(feed, path) for feed, path in feeds if os.path.exists(path)]
    if not feeds:
        return missing("Memory over a long run", "soak")
    out = ["## Memory over a long run\n", ctx.made_by("soak"),
           "The Linux program on a virtual X server (Xvfb, `bench/soak.sh`), its port the "
           "simulated device streaming one shape of line (`--stream-lines`), its resident memory "
           "(VmRSS) sampled from /proc; one run per feed, the feeds side by side. At 20,000 "
           "bytes a second the pane is full within a minute (its 1,000,000 characters after "
           "about 50 s of numbered lines, its 100,000 lines after 5 s of empty ones), so the "
           "second half of each run counts as full, and the plateau is the median there. The "
           "text document reallocates its storage as it goes, so a full pane's memory saws up "
           "and down by a few MB; a straight line fitted to that depends on where the teeth "
           "fall. The growth is therefore the rise of the highest sample from the third quarter "
           "of the run to the fourth, per minute; the fitted slope is given beside it.\n",
           "| feed | bytes a second | run (min) | highest (MB) | plateau once full (MB) "
           "| growth once full (MB a minute) | fitted slope |",
           "|---|---|---|---|---|---|---|"]
    verdicts = []
    top = SOAK_PLATEAU_TARGET_MB
    for feed, path in feeds:
        header, samples = soak_series(path)
        minutes = samples[-1][0] if samples else 0
        full = [(x, y) for x, y in samples if x >= minutes / 2]
        third = [y for x, y in full if x < minutes * 3 / 4]
        fourth = [y for x, y in full if x >= minutes * 3 / 4]
        if not third or not fourth:
            out.append("| %s | | %.1f | too short a run to judge | | | |" % (SOAK_FEEDS[feed],
                                                                              minutes))
            continue
        highest = max(y for _, y in samples)
        top = max(top, highest)
        growth = (max(fourth) - max(third)) / (minutes / 4)
        out.append("| %s | %s | %.1f | %.1f | %.1f | %+.3f | %+.3f |" % (
            SOAK_FEEDS[feed], "{:,}".format(int(header["rate"])), minutes, highest,
            statistics.median(y for _, y in full), growth, slope(full)))
        verdicts.append("Targets for %s, highest at most %.0f MB and growth once full at most "
                        "%.1f MB a minute: %s, %s.\n" % (
                            SOAK_FEEDS[feed], SOAK_PLATEAU_TARGET_MB,
                            SOAK_GROWTH_TARGET_MB_PER_MINUTE,
                            verdict(highest <= SOAK_PLATEAU_TARGET_MB),
                            verdict(growth <= SOAK_GROWTH_TARGET_MB_PER_MINUTE)
                            if minutes >= SOAK_JUDGED_MINUTES else
                            "not judged in a run shorter than %.0f minutes" % SOAK_JUDGED_MINUTES))
    out.append("")
    curves = ", ".join("'%s' using ($1/60):($2*1024/1e6) with lines linewidth 2 title '%s'"
                       % (path, feed) for feed, path in feeds)
    plot("set terminal pngcairo size 900,500\nset output '%s'\n"
         "set xlabel 'minutes since the port was opened'\nset ylabel 'resident memory (MB)'\n"
         "set yrange [0:%.0f]\nset key outside right\n"
         "plot %s, %.0f with lines dashtype 3 linecolor 'black' title 'target'\n" % (
             os.path.join(ctx.results, "soak_memory.png"), top * 1.1, curves,
             SOAK_PLATEAU_TARGET_MB))
    out += verdicts
    out.append("![Resident memory over the run, per feed](soak_memory.png)\n")
    return "\n".join(out)


def idle(ctx):
    linux = runs(ctx.results, "idle")
    windows = runs(ctx.results, "win32_idle")
    full = runs(ctx.results, "full_pane")
    sizes = os.path.join(ctx.results, "sizes.txt")
    if not linux and not windows:
        return missing("Idle and footprint", "idle")
    out = ["## Idle and footprint\n", ctx.made_by("idle"),
           "CPU with no port and with a port open to a silent device: the Linux program on Qt's "
           "offscreen platform, the Windows one under wine (its process and wineserver, as Linux "
           "counts them).\n",
           "| program | port | CPU (s) | over (s) |", "|---|---|---|---|"]
    for program, parsed in (("Linux", linux), ("Windows x86_64 (wine)", windows)):
        for label, port in (("port=none", "none"), ("port=silent", "open, device silent")):
            if select(parsed, label, "cpu_s"):
                out.append("| %s | %s | %s | %s |" % (
                    program, port, summary(select(parsed, label, "cpu_s"), 3),
                    summary(select(parsed, label, "elapsed_s"), 0)))
    out += ["", "| footprint of the Linux program | value |", "|---|---|",
            "| peak memory, idle without a port (KiB) | %s |"
            % summary(select(linux, "port=none", "peak_rss_kb"), 0),
            "| peak memory, pane full after a flood (KiB) | %s |"
            % summary(select(full, "stream=0", "peak_rss_kb"), 0),
            "| start of main() to the first tick (ms) | %s |"
            % summary(select(linux, "port=none", "first_tick_ms"), 1)]
    if os.path.exists(sizes):
        for line in open(sizes):
            path, size = line.split()
            out.append("| size of `%s` (bytes) | %s |" % (path, "{:,}".format(int(size))))
    out.append("")
    return "\n".join(out)


SECTIONS = (upload_pace, stream_ticks, receive_cost, compare, pane_cost, soak, idle)


def main(results):
    ctx = Context(results)
    machine = ctx.machine
    out = ["# Benchmark report\n"]
    if machine:
        out.append("Made by `bench/run.sh` on %s: %s, %s cores, %s GiB, Linux %s, Qt %s, wine %s. "
                   "Medians over repeated runs, with the lowest and highest run in brackets.\n"
                   % (machine["date"], machine["cpu"].replace("_", " "), machine["cores"],
                      machine["memory_gib"], machine["kernel"], machine["qt"], machine["wine"]))
    out += [section(ctx) for section in SECTIONS]
    with open(os.path.join(results, "report.md"), "w") as report:
        report.write("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "bench/results")
