"""Turns the raw figures bench/run.sh wrote into bench/results/report.md and its plots."""
import csv
import glob
import os
import statistics
import subprocess
import sys

STREAM_LINE_BYTES = 41  # "stream 000001 abcdefghijklmnopqrstuvwxyz\n"
TICK_BOUND_LINES_PER_SECOND = 10.0  # one acknowledged line per 100 ms tick


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


def main(results):
    machine = dict(line.strip().split("=", 1) for line in open(os.path.join(results, "machine.txt")))
    out = []
    out.append("# Benchmark report\n")
    out.append("Made by `bench/run.sh` on %s: %s, %s cores, %s GiB, Linux %s, Qt %s, wine %s. "
               "Medians over repeated runs, with the lowest and highest run in brackets.\n"
               % (machine["date"], machine["cpu"].replace("_", " "), machine["cores"],
                  machine["memory_gib"], machine["kernel"], machine["qt"], machine["wine"]))

    # Upload pace.
    upload = runs(results, "upload")
    out.append("## Upload pace\n")
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

    # Receive cost.
    receive = runs(results, "receive")
    counted = runs(results, "receive_syscalls")
    cat = runs(results, "receive_cat")
    out.append("## Receive cost\n")
    out.append("The simulated device streams numbered lines at the 9600-baud byte rate (960 bytes "
               "a second) and then as fast as the pseudo-terminal takes them; the Linux program's "
               "window and core (offscreen) read them. CPU comes from runs without tracing, system "
               "calls from runs under `strace -c` (the whole process: core, serial link, Qt). "
               "`cat` reading the same stream is the floor any reader can reach.\n")
    out.append("| stream | bytes received | our CPU (s) | our system calls per byte "
               "| longest tick (ms) | `cat` CPU (s) | `cat` system calls per byte |")
    out.append("|---|---|---|---|---|---|---|")
    per_byte = {}
    cpu = {}
    for rate in ("rate=960", "rate=0"):
        received = [v["last_stream_line"] * STREAM_LINE_BYTES for n, v in receive if n == rate]
        counted_bytes = [v["last_stream_line"] * STREAM_LINE_BYTES for n, v in counted if n == rate]
        calls = [v["syscalls"] / b for (n, v), b in
                 zip([r for r in counted if r[0] == rate], counted_bytes) if b > 0]
        cat_calls = [v["syscalls"] / v["bytes"] for n, v in cat if n == rate and v.get("bytes")]
        per_byte[rate] = calls
        cpu[rate] = (select(receive, rate, "cpu_s"), select(cat, rate, "cpu_s"))
        out.append("| %s | %s | %s | %s | %s | %s | %s |" % (
            "960 B/s" if rate == "rate=960" else "as fast as it goes", summary(received, 0),
            summary(select(receive, rate, "cpu_s"), 3), summary(calls, 3),
            summary(select(receive, rate, "longest_tick_ms"), 0),
            summary(select(cat, rate, "cpu_s"), 3), summary(cat_calls, 4)))
    if per_byte["rate=0"]:
        out.append("\nTarget, at most 1.1 system calls for every queued byte (the flood, where "
                   "bytes wait in the queue): %s." % verdict(statistics.median(per_byte["rate=0"]) <= 1.1))
    out.append("\nA chunk ends only at 50 ms of silence, so a device that keeps talking holds a "
               "tick, and the window, for as long as it talks (up to 65,535 bytes); the longest "
               "tick shows it.")
    out.append("\nThe comparison with other serial terminals was not run: this project does not "
               "install or run programs that resemble it. `cat` stands in as the floor.\n")

    # Pane cost.
    out.append("## Pane cost\n")
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

    # Idle.
    out.append("## Idle\n")
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
