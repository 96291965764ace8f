"""Turns the raw figures bench/run.sh left in bench/results into report.md and its plots.

One function per section: each reads its own raw files, returns its markdown and draws its
plot. A section whose raw files are missing (not run on this machine yet) says so."""
import csv
import glob
import os
import re
import statistics
import subprocess
import sys

STREAM_LINE_BYTES = 41  # "stream 000001 abcdefghijklmnopqrstuvwxyz\n"
TICK_BOUND_LINES_PER_SECOND = 10.0  # one acknowledged line per 100 ms tick
UPLOAD_BYTE_SECONDS = 10 / 9600.0  # 9600 baud, 8N1: start bit, eight data bits, stop bit
UPLOAD_CHUNK_QUIET_MS = 50  # the usual pace sends the next line once the line is this quiet
# A run this far below its row's median is named, with the load it ran under: on a shared
# machine, most such runs are disturbed ones.
UPLOAD_DISTURBED_FRACTION = 0.97
FAST_UPLOAD_TARGET = 0.90  # of the line's bound, in every case
USUAL_UPLOAD_TARGET = 0.95  # of the tick bound, in every case
LONGEST_TICK_TARGET_MS = 200.0  # twice the poll period: the window still feels live
SYSCALLS_PER_BYTE_TRICKLE_TARGET = 2.2  # 960 B/s one byte a write: a read and a wait per byte
SYSCALLS_PER_BYTE_FLOOD_TARGET = 0.05  # a flood is read in large blocks
PANE_SPREAD_TARGET = 3.0  # a flat pane: 90th percentile at most this times the 10th
MANY_PORTS_TIME_TARGET = 1.25  # 32 ports in at most this times one port's time
MANY_PORTS_CPU_TARGET = 1.2  # CPU per port at most this times one upload's
LOG_CPU_TARGET = 0.10  # what the log may add to the window's CPU on the comparison's stream
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


NO_FIGURES = "No figures here yet"
KEPT_NOTE = "*No raw figures for this section on the machine that made this report"


def missing(title, section):
    return ("## %s\n\n%s: `BENCH_SECTIONS=%s bench/run.sh` makes them.\n"
            % (title, NO_FIGURES, section))


def earlier_sections(path):
    """The sections of the report this one replaces, by heading, that had figures: raw figures
    stay on the machine that made them, so a run of some sections elsewhere keeps the rest."""
    if not os.path.exists(path):
        return {}
    text = open(path).read()
    made = re.search(r"^Made by `bench/run.sh` on \S+: (.*?)\. Medians", text, re.MULTILINE)
    note = "%s: kept as the report before it gave them, made on %s.*\n" % (
        KEPT_NOTE, made.group(1) if made else "a machine it does not name")
    kept = {}
    for part in text.split("\n## ")[1:]:
        heading, _, body = part.partition("\n")
        body = body.strip("\n") + "\n"
        if body.startswith(NO_FIGURES):
            continue
        kept[heading] = body if body.startswith(KEPT_NOTE) else note + "\n" + body
    return kept


def upload_run(values, seconds_key):
    """One upload's figures, or None when it did not go through to the end with every byte."""
    seconds = values.get(seconds_key)
    if (not seconds or values.get("exit", 0) != 0
            or values.get("received_bytes") != values.get("bytes")):
        return None
    bound = ((values["bytes"] + values["lines"]) * UPLOAD_BYTE_SECONDS
             + values["lines"] * values["delay"] / 1000.0)
    return {"lines_per_second": values["lines"] / seconds,
            "bytes_per_second": values["bytes"] / seconds,
            "of_bound": 100 * bound / seconds,
            "of_tick_bound": 100 * values["lines"] / seconds / TICK_BOUND_LINES_PER_SECOND,
            "cpu_us_per_line": 1e6 * values["cpu_s"] / values["lines"]
            if "cpu_s" in values else None,
            "load1": values.get("load1")}


def upload_file_lines(parsed, pace):
    """How many lines the files of one pace had."""
    lines = sorted({"%.0f" % v["lines"] for n, v in parsed if n == pace})
    return " or ".join(lines) if lines else "no"


def upload_pace(ctx):
    window = runs(ctx.results, "upload")
    program = runs(ctx.results, "upload_program")
    # Runs of the bench before the line was modelled carry no line length: not comparable.
    window = [(n, v) for n, v in window if "line_bytes" in v]
    program = [(n, v) for n, v in program if "line_bytes" in v]
    if not window and not program:
        return missing("Upload pace", "\"upload upload-program\"")
    out = ["## Upload pace\n", ctx.made_by("upload", "upload-program"),
           "Program files uploaded to the simulated device on a modelled 9600-baud line "
           "(`--baud 9600`: each byte takes ten bits' time, %.2f ms, both ways); the device "
           "answers a line with '+' once its last byte is in, at once or after a delay. A fast "
           "upload sends each line when the answer to the one before arrives, so its bound is "
           "what the line carries: (bytes of the file + one answer byte a line) × %.2f ms + the "
           "device's delay for each line. The usual pace sends the next line from the poll tick "
           "that reads the answer, once the line has been quiet for 50 ms after it: at most one "
           "line a 100 ms tick, %.0f lines a second (the tick bound). Fast uploads are of %s-line files, the usual pace of their "
           "first %s lines (it is a line a tick from the first one). The window is the Linux "
           "program's window and core on Qt's offscreen platform, the fast choice made before "
           "\"rp!\", timed from \"rp!\" to the upload's end, CPU that of the whole window from "
           "then; `varnoth-upload --quiet --port 1` is timed from outside as a script runs it "
           "(start, connect, upload, exit), CPU from the child's getrusage (bash's `time`). "
           "Bytes a second are the file's bytes.\n" % (
               1000 * UPLOAD_BYTE_SECONDS, 1000 * UPLOAD_BYTE_SECONDS,
               TICK_BOUND_LINES_PER_SECOND,
               upload_file_lines(window + program, "pace=fast"),
               upload_file_lines(window + program, "pace=usual")),
           ctx.load_note(window, program)]
    cases = sorted({(v["line_bytes"], v["delay"]) for _, v in window + program},
                   key=lambda case: (-case[0], case[1]))

    def case_name(case):
        answer = "at once" if case[1] == 0 else "after %.0f ms" % case[1]
        return "%.0f-byte lines, answered %s" % (case[0], answer)

    out += ["| lines | device answers | bound (lines a second) | bound (bytes a second) |",
            "|---|---|---|---|"]
    for line_bytes, delay in cases:
        line_seconds = (line_bytes + 1) * UPLOAD_BYTE_SECONDS + delay / 1000.0
        out.append("| %.0f bytes | %s | %.1f | %.0f |" % (
            line_bytes, "at once" if delay == 0 else "after %.0f ms" % delay,
            1 / line_seconds, line_bytes / line_seconds))
    out += ["", "| lines | device answers | program | pace | lines | lines a second "
            "| bytes a second | of the bound | of the tick bound | CPU per line (µs) |",
            "|---|---|---|---|---|---|---|---|---|---|"]
    kinds = (("varnoth-upload", "pace=fast", program, "elapsed_s"),
             ("window", "pace=fast", window, "upload_s"),
             ("varnoth-upload", "pace=usual", program, "elapsed_s"),
             ("window", "pace=usual", window, "upload_s"))
    medians = {}  # (program, pace) -> [(case, median share, lowest share)]
    spreads = []
    disturbed = []
    failed = []
    points = {}
    for case in cases:
        for name, pace, parsed, seconds_key in kinds:
            rows = [v for n, v in parsed if n == pace and (v["line_bytes"], v["delay"]) == case]
            if not rows:
                continue
            done = [upload_run(v, seconds_key) for v in rows]
            failed += ["%s %s, %s" % (name, pace.split("=")[1], case_name(case))
                       for figures in done if figures is None]
            done = [figures for figures in done if figures is not None]
            if not done:
                continue
            column = lambda key: [figures[key] for figures in done]
            usual = pace == "pace=usual"
            out.append("| %.0f bytes | %s | %s | %s | %s | %s | %s | %s %% | %s | %s |" % (
                case[0], "at once" if case[1] == 0 else "after %.0f ms" % case[1], name,
                "usual" if usual else "fast",
                ", ".join(sorted({"%.0f" % v["lines"] for v in rows})),
                summary(column("lines_per_second"), 1), summary(column("bytes_per_second"), 0),
                summary(column("of_bound"), 1),
                summary(column("of_tick_bound"), 1) + " %" if usual else "",
                summary(column("cpu_us_per_line"), 0)))
            share = column("of_tick_bound" if usual else "of_bound")
            medians.setdefault((name, pace), []).append(
                (case, statistics.median(share), min(share)))
            rates = column("lines_per_second")
            row = "%s %s, %s" % (name, "usual" if usual else "fast", case_name(case))
            disturbed += ["%s: %.1f lines a second against %.1f, load %s" % (
                row, figures["lines_per_second"], statistics.median(rates),
                "%.2f" % figures["load1"] if figures["load1"] is not None else "not recorded")
                for figures in done
                if figures["lines_per_second"] < UPLOAD_DISTURBED_FRACTION
                * statistics.median(rates)]
            if len(rates) > 1:
                spreads.append((100 * (max(rates) - min(rates)) / statistics.median(rates),
                                "%s %s, %s" % (name, "usual" if usual else "fast",
                                               case_name(case))))
            points.setdefault((name, pace), []).extend(
                (cases.index(case) + 1, rate) for rate in rates)
    out.append("")
    if spreads:
        widest = max(spreads)
        out.append("The widest spread between the runs of one row: %.1f %% of its median "
                   "(%s).\n" % widest)
    if disturbed:
        out.append("Runs more than %.0f %% below the median of their row, the mark of a "
                   "disturbed run, with the 1-minute load average as each ended (on %s cores): "
                   "%s.\n"
                   % (100 * (1 - UPLOAD_DISTURBED_FRACTION), ctx.machine.get("cores", "?"),
                      "; ".join(disturbed)))
    if failed:
        out.append("Runs that did not send the whole file, left out of the figures: %s.\n"
                   % "; ".join(failed))
    slow_cases = set()
    for (name, pace), shares in medians.items():
        usual = pace == "pace=usual"
        target = USUAL_UPLOAD_TARGET if usual else FAST_UPLOAD_TARGET
        short = [(case, share) for case, share, _ in shares if share < 100 * target]
        lowest = min(shares, key=lambda entry: entry[1])
        text = ("Target for %s, at least %.0f %% of %s in every case: %s" % (
            ("the window" if name == "window" else name) + " at the usual pace" if usual else
            ("`varnoth-upload --fast`" if name == "varnoth-upload" else "the window's fast upload"),
            100 * target, "the tick bound" if usual else "the bound", verdict(not short)))
        if short:
            text += ", in %s" % "; ".join(
                "%s: %.1f %%, %.1f points short" % (case_name(case), share, 100 * target - share)
                for case, share in short)
        else:
            text += " (lowest median %.1f %%, %s; lowest run %.1f %%)" % (
                lowest[1], case_name(lowest[0]), min(entry[2] for entry in shares))
        out.append(text + ".\n")
        if usual:
            slow_cases.update(case for case, _ in short)
    for case in sorted(slow_cases, key=cases.index):
        line_ms = 1000 * (case[0] + 1) * UPLOAD_BYTE_SECONDS
        out.append("With %s, a line and its answer take %.1f ms on the line, the device waits "
                   "%.0f ms and the chunk ends %.0f ms after the answer: %.1f ms from a line "
                   "going out to the next being due at the usual pace, against a %.0f ms tick.\n"
                   % (case_name(case), line_ms, case[1], UPLOAD_CHUNK_QUIET_MS,
                      line_ms + case[1] + UPLOAD_CHUNK_QUIET_MS,
                      1000 / TICK_BOUND_LINES_PER_SECOND))
    # Filled for the fast pace, open for the usual one; one colour per program.
    styles = {("varnoth-upload", "pace=fast"): ("varnoth-upload --fast", -0.15, 7, "#1f5fbf"),
              ("window", "pace=fast"): ("window, fast upload", -0.05, 5, "#c0392b"),
              ("varnoth-upload", "pace=usual"): ("varnoth-upload", 0.05, 6, "#1f5fbf"),
              ("window", "pace=usual"): ("window", 0.15, 4, "#c0392b")}
    bounds = [(i + 1, 1 / ((b + 1) * UPLOAD_BYTE_SECONDS + d / 1000.0))
              for i, (b, d) in enumerate(cases)]
    series = [(key, rows) for key, rows in points.items() if rows]
    plot("%s%sset terminal pngcairo size 800,520\nset output '%s'\n"
         "set ylabel 'lines per second'\nset logscale y\nset yrange [4:1000]\n"
         "set xrange [0.5:%d.5]\nset xtics (%s)\nset key top left Left reverse\nset bmargin 4\n"
         "set pointsize 1.3\n"
         "plot $bound using 1:2:(0.35) with xerrorbars pointsize 0 linewidth 2 "
         "linecolor 'black' title 'bound: the line and the delay', "
         "%.0f with lines dashtype 3 linecolor 'black' title 'bound: a line a tick', %s\n" % (
             datablock("bound", bounds),
             "".join(datablock("s%d" % i, [(x + styles[key][1], y) for x, y in rows])
                     for i, (key, rows) in enumerate(series)),
             os.path.join(ctx.results, "upload_pace.png"), len(cases),
             ", ".join('"%.0f-byte lines\\n%s" %d' % (
                 case[0], "at once" if case[1] == 0 else "after %.0f ms" % case[1], i + 1)
                       for i, case in enumerate(cases)),
             TICK_BOUND_LINES_PER_SECOND,
             ", ".join("$s%d using 1:2 with points pointtype %d linecolor '%s' title '%s'" % (
                 i, styles[key][2], styles[key][3], styles[key][0])
                 for i, (key, _) in enumerate(series))))
    out.append("![Upload pace of both paces against the bound, per file and answer]"
               "(upload_pace.png)\n")
    return "\n".join(out)


def many_ports(ctx):
    parsed = runs(ctx.results, "many_ports")
    if not parsed:
        return missing("Many ports at once", "many-ports")
    lines = sorted({"%.0f" % v["lines"] for _, v in parsed})
    out = ["## Many ports at once\n", ctx.made_by("many-ports"),
           "`varnoth-upload --quiet --port 1 ... --port N` with N simulated devices, each on a "
           "modelled 9600-baud line of its own (`--baud 9600`) answering '+' at once, the same "
           "%s-line file of 30-byte lines to each, fast (`--fast`) and at the usual pace; one "
           "run of each. Wall time from outside (start to exit), CPU of the program and the "
           "children it started, one per port (bash's `time`), peak memory the highest sum of "
           "the resident memory of the program and its children, sampled every 200 ms. Each "
           "row's one-port run is the reference for its pace; \"complete\" counts the devices "
           "whose record equals the file. One upload spends only milliseconds of CPU and bash's "
           "`time` counts whole milliseconds, so the one-port figure, and each share of it, is "
           "good to some 10 %%; the summed resident memory counts the pages the processes share "
           "(the program and its libraries) once for each.\n" % " or ".join(lines),
           ctx.load_note(parsed),
           "| pace | ports | complete | wall time (s) | of one port's | CPU (s) "
           "| CPU per port, of one upload's | peak memory (MiB) |",
           "|---|---|---|---|---|---|---|---|"]
    verdicts = []
    points = {}
    for pace in ("pace=fast", "pace=usual"):
        rows = sorted((v for n, v in parsed if n == pace), key=lambda v: v["ports"])
        one = next((v for v in rows if v["ports"] == 1), None)
        if one is None:
            continue
        name = "fast" if pace == "pace=fast" else "usual"
        for v in rows:
            time_share = v["elapsed_s"] / one["elapsed_s"]
            cpu_share = v["cpu_s"] / v["ports"] / one["cpu_s"] if one["cpu_s"] > 0 else None
            out.append("| %s | %.0f | %.0f of %.0f | %.2f | %.2f × | %.3f | %s | %.1f |" % (
                name, v["ports"], v["complete"], v["ports"], v["elapsed_s"], time_share,
                v["cpu_s"], "%.2f ×" % cpu_share if cpu_share is not None else "-",
                v["peak_rss_kib"] / 1024))
            points.setdefault(name, []).append((v["ports"], v["elapsed_s"]))
        most = rows[-1]
        if most["ports"] == 32:
            time_share = most["elapsed_s"] / one["elapsed_s"]
            cpu_share = most["cpu_s"] / 32 / one["cpu_s"] if one["cpu_s"] > 0 else float("inf")
            all_through = most["complete"] == most["ports"] and most.get("exit") == 0
            verdicts.append(
                "Targets, %s: 32 ports in at most %.2f × one port's time: %s (%.2f ×); CPU per "
                "port at most %.1f × one upload's: %s (%.2f ×); every port through: %s.\n" % (
                    name, MANY_PORTS_TIME_TARGET,
                    verdict(time_share <= MANY_PORTS_TIME_TARGET), time_share,
                    MANY_PORTS_CPU_TARGET, verdict(cpu_share <= MANY_PORTS_CPU_TARGET),
                    cpu_share, "yes" if all_through else "no (%.0f of 32, exit status %.0f)"
                    % (most["complete"], most.get("exit", -1))))
    out.append("")
    out += verdicts
    styles = {"fast": (7, "#1f5fbf", "--fast"), "usual": (6, "#c0392b", "usual pace")}
    plot("%sset terminal pngcairo size 800,480\nset output '%s'\n"
         "set xlabel 'ports at once'\nset ylabel 'wall time (s)'\nset logscale x 2\n"
         "set xrange [0.8:40]\nset yrange [0:*]\nset key at graph 0.98, graph 0.6 right\nset pointsize 1.3\n"
         "plot %s\n" % (
             "".join(datablock(name, rows) for name, rows in points.items()),
             os.path.join(ctx.results, "many_ports.png"),
             ", ".join("$%s using 1:2 with linespoints pointtype %d linecolor '%s' title '%s', "
                       "%f with lines dashtype 3 linecolor '%s' title '%s: %.2f × one port'"
                       % (name, styles[name][0], styles[name][1], styles[name][2],
                          MANY_PORTS_TIME_TARGET * rows[0][1], styles[name][1], styles[name][2],
                          MANY_PORTS_TIME_TARGET)
                       for name, rows in points.items())))
    out.append("![Wall time of an upload to 1 to 32 ports at once, both paces](many_ports.png)\n")
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


def log_cpu(ctx):
    parsed = runs(ctx.results, "log_cpu")
    if not parsed:
        return missing("CPU with the session log on and off", "log-cpu")
    seconds = parsed[0][1].get("seconds", 0)
    out = ["## CPU with the session log on and off\n", ctx.made_by("log-cpu"),
           "The stream of the CPU comparison (gapless, one byte a write at 960 bytes a second) "
           "read for %.0f seconds by the real window on Xvfb, measured as there (/proc/PID/stat "
           "from the port's open), once without a log and once with `varnoth-terminal --log "
           "FILE`, a new file on the bench's disk (%s), the two taking turns and the first of a "
           "pair changing from pair to pair. The kernel counts this CPU in hundredths of a "
           "second, so a figure of 0.30 s is known to about 3 %%.\n" % (
               seconds, ", ".join(sorted({str(v["log_fs"])
                                         for n, v in parsed if "log_fs" in v})) or "unknown"),
           ctx.load_note(parsed),
           "| log | CPU (s) | log written (bytes) | device lines in the log |", "|---|---|---|---|"]
    off = select(parsed, "log=off", "cpu_s")
    on = select(parsed, "log=on", "cpu_s")
    out.append("| off | %s | | |" % summary(off, 3))
    out.append("| on | %s | %s | %s |" % (summary(on, 3),
                                           summary(select(parsed, "log=on", "log_bytes"), 0),
                                           summary(select(parsed, "log=on", "log_lines"), 0)))
    out.append("")
    if off and on and statistics.median(off) > 0:
        ratio = statistics.median(on) / statistics.median(off)
        out.append("Target, the log adds at most %.0f %% (medians): %.3f s against %.3f s, a "
                   "ratio of %.2f (%+.0f %%): %s.\n" % (
                       100 * LOG_CPU_TARGET, statistics.median(on), statistics.median(off),
                       ratio, 100 * (ratio - 1), verdict(ratio <= 1 + LOG_CPU_TARGET)))
    else:
        out.append("Target, the log adds at most %.0f %%: not judged, a figure is missing.\n"
                   % (100 * LOG_CPU_TARGET))
    return "\n".join(out)


def log_kill(ctx):
    parsed = runs(ctx.results, "log_kill")
    if not parsed:
        return missing("Session log after kill -9", "log-kill")
    out = ["## Session log after kill -9\n", ctx.made_by("log-kill"),
           "The real window on Xvfb writes a log (`varnoth-terminal --log FILE`) while it reads "
           "the stream of the CPU comparison; after a random 1 to 6 s from the port's open its "
           "pane is copied as a user copies it (a click in the pane, Ctrl+A, Ctrl+C, read back "
           "with xclip) and, the moment the copy is read, the program gets SIGKILL "
           "(`bench/log_kill.sh`). The device's text in the copy (from the first thing it sent "
           "after the port's open, a line it was still showing included) is then compared byte "
           "for byte with the log's device lines, escapes undone. A line is lost when any of "
           "its bytes is missing or differs; from the first such byte on, all the rest counts "
           "as lost. The copy is read back some 0.1 to 0.2 s after its keys go out, so the kill "
           "comes that long after the pane was copied: what the log holds past the copy came "
           "in between.\n",
           ctx.load_note(parsed),
           "| run | copied after (s) | copy to kill (ms) | lines shown | bytes shown "
           "| device lines in the log | lines lost | bytes lost | bytes logged after the copy |",
           "|---|---|---|---|---|---|---|---|---|"]
    keys = ("shown_lines", "shown_bytes", "logged_lines", "lost_lines", "lost_bytes",
            "later_bytes")
    for name, values in parsed:
        out.append("| %s | %.1f | %s | %s |" % (
            name.split("=")[1], values.get("after_ms", 0) / 1000,
            "%.0f" % values["copy_to_kill_ms"] if "copy_to_kill_ms" in values else "",
            " | ".join("%.0f" % values.get(key, 0) for key in keys)))
    total = {key: sum(v.get(key, 0) for _, v in parsed) for key in keys}
    out.append("| all %d | | | %s |" % (len(parsed), " | ".join("%.0f" % total[key]
                                                                for key in keys)))
    out.append("")
    out.append("Target, none of what the pane had shown lost, in any run: %s (%.0f of %.0f "
               "lines lost over %d runs).\n" % (verdict(total["lost_lines"] == 0),
                                                 total["lost_lines"], total["shown_lines"],
                                                 len(parsed)))
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


SECTIONS = (upload_pace, many_ports, stream_ticks, receive_cost, compare, log_cpu, log_kill,
            pane_cost, soak, idle)


def main(results):
    ctx = Context(results)
    machine = ctx.machine
    out = ["# Benchmark report\n"]
    if machine:
        out.append("Made by `bench/run.sh` on %s: %s, %s cores, %s GiB, Linux %s, Qt %s, wine %s. "
                   "Medians over repeated runs, with the lowest and highest run in brackets.\n"
                   % (machine["date"], machine["cpu"].replace("_", " "), machine["cores"],
                      machine["memory_gib"], machine["kernel"], machine["qt"], machine["wine"]))
    earlier = earlier_sections(os.path.join(results, "report.md"))
    for section in SECTIONS:
        text = section(ctx)
        heading = text[len("## "):text.index("\n")]
        if text.startswith("## %s\n\n%s" % (heading, NO_FIGURES)) and heading in earlier:
            text = "## %s\n\n%s" % (heading, earlier[heading])
        out.append(text)
    with open(os.path.join(results, "report.md"), "w") as report:
        report.write("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "bench/results")
