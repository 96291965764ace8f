// varnoth-upload [--port N]... [--all] [--fast] [--log FILE] [--quiet] PROGRAM-FILE | --list-ports:
// the program's entry, its arguments, the tick loop and the exit status. How the parts fit:
// shell/upload/upload_console.h; several ports at once: shell/upload/many_ports.h.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <getopt.h>

#include "core/pane.h"
#include "core/poll_cycle.h"
#include "core/port_connection.h"
#include "core/session_log.h"
#include "core/terminal_session.h"
#include "core/upload.h"
#include "core/upload_report.h"
#include "shell/upload/many_ports.h"
#include "shell/upload/upload_console.h"

namespace {

using Clock = std::chrono::steady_clock;

// In the shape help2man reads ("Usage:", an "Exit status:" heading), which makes the manual page.
constexpr const char* Usage =
    "Usage: varnoth-upload [--port N]... [--all] [--fast] [--log FILE] [--quiet] PROGRAM-FILE\n"
    "  or:  varnoth-upload --list-ports | --help | --version\n"
    "Uploads PROGRAM-FILE to the device one line at a time, as \"rp!\" in the terminal does.\n"
    "\n"
    "  --port N      the port, numbered as for \"open N\" in the terminal (1 to 255); without\n"
    "                it, or with 0, the device is found as \"open 0\" finds it; given more\n"
    "                than once, the file goes to each port named, all at the same time\n"
    "  --all         upload to every port whose device answers the identification\n"
    "                request, as \"open 0\" finds one, all at the same time\n"
    "  --fast        send each line as soon as the device answers the one before, not at\n"
    "                the next 100 ms tick: as fast as the device paces it; the lines, the\n"
    "                answers, the retries and the one-second silence rule stay the same\n"
    "  --log FILE    log the session into FILE, appended to: each line sent, each answer\n"
    "                and the upload's end, with their times; with several ports each\n"
    "                port logs into a file of its own, FILE with the port's number before\n"
    "                its extension (--log upload.log: upload-3.log for port 3)\n"
    "  --quiet       no progress line, and no messages when all goes well\n"
    "  --list-ports  the ports present, with the numbers --port takes\n"
    "  --help        this text\n"
    "  --version     the program's version\n"
    "\n"
    "What the device sends goes to standard output; messages and the progress line go to\n"
    "standard error. With several ports what the devices send is not shown: standard\n"
    "error has a row per port, redrawn in place on a terminal (elsewhere a line per port\n"
    "as it ends), and at the end a table of each port's device, result, lines and time.\n"
    "\n"
    "Exit status:\n"
    "  0    the program file went out to its end; the closing line on standard error\n"
    "       says how any other ended, and at which line\n"
    "  1    the device ended the upload early, with '*' or '>'\n"
    "  2    bad usage, or the log file cannot be opened\n"
    "  3    gave up on a line after 4 retries: the device was silent or answered wrongly,\n"
    "       or the line would not go out whole\n"
    "  4    the port is missing, busy or no serial port, or detection found no device\n"
    "  5    the program file is missing, unreadable, empty, or no text (it holds a NUL\n"
    "       byte); nothing of it is sent, and no port is opened for a file found so\n"
    "       before; a pipe that turns out so stops at that line\n"
    "  6    the device went away during the upload (unplugged, reset, powered off); the\n"
    "       program does not wait for it to come back\n"
    "  7    several ports: the upload to at least one of them did not go to its end, or\n"
    "       never began; the table says which and why (with --all, 4 when no port's\n"
    "       device answered)\n"
    "  130  interrupted (Ctrl+C, SIGTERM, SIGHUP, the console closed)\n";

// "open N" takes the text after "open": a blank and the number (room for any 32-bit one).
constexpr std::size_t PortArgumentCapacity = 16;
// The progress line: counts, percent, pace and time left, well within a terminal's width.
constexpr std::size_t ProgressCapacity = 96;
constexpr auto TickPeriod = std::chrono::milliseconds(PollIntervalMilliseconds);
// When the upload began; the clock's epoch until it does.
Clock::time_point UploadStart{};

struct Options {
    std::int32_t port = DetectPortNumber;
    // Every --port given, in their order.
    std::int32_t ports[ChildCapacity] = {};
    int portCount = 0;
    bool all = false;
    // A child of an upload to several ports (shell/upload/many_ports.h): it says how it goes in
    // report lines, and with --only-if-answering uploads only to a device that answers the probe.
    bool reportToParent = false;
    bool onlyIfAnswering = false;
    bool fast = false;
    bool quiet = false;
    const char* log = nullptr;
    const char* path = nullptr;
};

// Only plain decimal numbers of ports that exist; ParsePortNumber would take "3x" or "-1"
// as the typed "open" does, which a script should hear about instead.
bool ParsePortOption(const char* text, std::int32_t* port) {
    // Three digits hold every port number; more would overflow before the check.
    if (text == nullptr || text[0] == '\0' || std::strlen(text) > 3) {
        return false;
    }
    std::int32_t value = 0;
    for (const char* digit = text; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9') {
            return false;
        }
        value = value * 10 + (*digit - '0');
    }
    *port = value;
    return value < PortNumberLimit;
}

int UsageError(const char* problem, const char* what) {
    std::fprintf(stderr, "varnoth-upload: %s%s\nvarnoth-upload --help for more\n", problem, what);
    return ExitUsage;
}

// Returns -1 when the program is to run, else the exit status (after --help, --version or a
// usage error). Options may come before or after the program file; "--" ends them.
int ParseArguments(int argc, char** argv, Options* options) {
    enum Choice {
        Port = 1,
        All,
        Fast,
        Log,
        Quiet,
        ListPorts,
        Help,
        Version,
        ReportToParentOption,
        OnlyIfAnswering
    };
    // The last two are for the program's own children; --help leaves them out.
    static const option Known[] = {{"port", required_argument, nullptr, Port},
                                   {"all", no_argument, nullptr, All},
                                   {"report-to-parent", no_argument, nullptr, ReportToParentOption},
                                   {"only-if-answering", no_argument, nullptr, OnlyIfAnswering},
                                   {"fast", no_argument, nullptr, Fast},
                                   {"log", required_argument, nullptr, Log},
                                   {"quiet", no_argument, nullptr, Quiet},
                                   {"list-ports", no_argument, nullptr, ListPorts},
                                   {"help", no_argument, nullptr, Help},
                                   {"version", no_argument, nullptr, Version},
                                   {nullptr, 0, nullptr, 0}};
    // The messages are the program's own, one line each; a leading ':' tells a missing value.
    opterr = 0;
    for (int chosen; (chosen = getopt_long(argc, argv, ":", Known, nullptr)) != -1;) {
        switch (chosen) {
        case Port:
            if (!ParsePortOption(optarg, &options->port)) {
                return UsageError("--port takes a number from 0 to 255, not ", optarg);
            }
            for (int i = 0; i < options->portCount; ++i) {
                if (options->ports[i] == options->port) {
                    return UsageError("--port names a port twice: ", optarg);
                }
            }
            // So each of several is a port's own number, of which there are ChildCapacity.
            if (options->portCount > 0 &&
                (options->port == DetectPortNumber || options->ports[0] == DetectPortNumber)) {
                return UsageError("--port 0 finds one device; --all uploads to every one", "");
            }
            options->ports[options->portCount++] = options->port;
            break;
        case All:
            options->all = true;
            break;
        case ReportToParentOption:
            options->reportToParent = true;
            break;
        case OnlyIfAnswering:
            options->onlyIfAnswering = true;
            break;
        case Fast:
            options->fast = true;
            break;
        case Log:
            options->log = optarg;
            break;
        case Quiet:
            options->quiet = true;
            break;
        case ListPorts:
            return PrintPortTable();
        case Help:
            std::fputs(Usage, stdout);
            return ExitSent;
        case Version:
            std::printf("varnoth-upload %s\n", VARNOTH_VERSION);
            return ExitSent;
        case ':':
            return UsageError(argv[optind - 1], " needs a value");
        default:
            return UsageError("unknown option ", argv[optind - 1]);
        }
    }
    if (options->all && options->portCount > 0) {
        return UsageError("--all and --port each name the ports; give one of them", "");
    }
    if (optind == argc) {
        return UsageError("no program file named", "");
    }
    if (optind + 1 < argc) {
        return UsageError("one program file only; quote a path with blanks: ", argv[optind + 1]);
    }
    options->path = argv[optind];
    return -1;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The core's message ("connected to port 3\n", or a failure and the link's reason) goes out as
// lines of the program's own, each with its prefix. Returns how many lines it had.
int SayCoreMessage(const char* text) {
    int lines = 0;
    while (*text != '\0') {
        const std::size_t length = std::strcspn(text, "\n");
        Say("%.*s", static_cast<int>(length), text);
        ++lines;
        text += length + (text[length] == '\n' ? 1 : 0);
    }
    return lines;
}

// A child for --all keeps its port only when the device answers the probe as detection asks it;
// otherwise it is left out without a word.
int ConnectIfAnswering(const char* argument) {
    const bool connected = ConnectPort(argument) == ResultSuccess;
    TakeCoreMessage();
    if (!connected || !ProbePort()) {
        ClosePortIfOpen();
        ReportAbsent();
        return ExitNoPort;
    }
    ReportDevice(OpenedDeviceName());
    return ExitSent;
}

// One explanation: the serial link's reason follows the core's line when it has one.
int SayWhyNotConnected(const Options& options, const char* message) {
    const int reported = SayCoreMessage(message);
    if (options.port == DetectPortNumber) {
        Say("no port answered the identification request as the device does");
    } else if (reported < 2) {
        Say("port %ld is missing, or another program holds it", static_cast<long>(options.port));
    }
    return ExitNoPort;
}

// Detection is silent in the pane; a script's log should say which port it kept.
void SayConnected(const Options& options, const char* message) {
    if (options.port == DetectPortNumber) {
        const long number = TerminalSession.PortNumber;
        const char* device = OpenedDeviceName();
        if (device[0] != '\0') {
            Say("found the device on port %ld (%s)", number, device);
        } else {
            Say("found the device on port %ld", number);
        }
    }
    SayCoreMessage(message);
}

int Connect(const Options& options) {
    char argument[PortArgumentCapacity];
    std::snprintf(argument, sizeof argument, " %ld", static_cast<long>(options.port));
    if (options.onlyIfAnswering) {
        return ConnectIfAnswering(argument);
    }
    const bool connected = ConnectPort(argument) == ResultSuccess;
    const char* message = TakeCoreMessage();
    if (!connected) {
        return SayWhyNotConnected(options, message);
    }
    if (ReportingToParent()) {
        ReportDevice(OpenedDeviceName());
    }
    if (!options.quiet) {
        SayConnected(options, message);
    }
    return ExitSent;
}

// The line out last waits for its answer, unless it was the file's last and went through.
std::int32_t AcknowledgedLines() {
    const std::int32_t sent = TerminalSession.UploadLineNumber;
    const bool allAnswered = TerminalSession.LastUploadEnd == UploadEnd::FileSent;
    return allAnswered ? sent : sent > 0 ? sent - 1 : 0;
}

void DrawProgress(std::int32_t total, Clock::time_point start) {
    const std::int32_t acknowledged = AcknowledgedLines();
    const double seconds = SecondsSince(start);
    const double pace = seconds > 0 ? acknowledged / seconds : 0;
    char line[ProgressCapacity];
    if (total < 0) {
        std::snprintf(line, sizeof line, "%ld lines  %.1f lines/s", static_cast<long>(acknowledged),
                      pace);
        DrawProgressLine(line);
        return;
    }
    const long percent = total > 0 ? 100L * acknowledged / total : 100L;
    char left[24] = "-:--";
    if (pace > 0) {
        const long secondsLeft = static_cast<long>((total - acknowledged) / pace + 0.5);
        std::snprintf(left, sizeof left, "%ld:%02ld", secondsLeft / 60, secondsLeft % 60);
    }
    std::snprintf(line, sizeof line, "%ld of %ld lines  %3ld %%  %.1f lines/s  %s left",
                  static_cast<long>(acknowledged), static_cast<long>(total), percent, pace, left);
    DrawProgressLine(line);
}

// Says how the upload ended, in the closing line, and returns the matching exit status. What
// the core said in the pane on the last tick (a lost device, a short send) is in it already.
int Conclude(const Options& options, Clock::time_point start) {
    TakeCoreMessage();
    // Only an interrupt leaves the tick loop with the upload still running; one that came
    // after the last tick changed nothing, and the upload's own end is told.
    if (TerminalSession.Uploading) {
        char ofTotal[OfLineTotalCapacity];
        Say("interrupted at line %ld%s; the port is closed",
            static_cast<long>(TerminalSession.UploadLineNumber), OfLineTotal(ofTotal));
        return ExitInterrupted;
    }
    // A pipe that brought no line: the same as an empty file.
    if (TerminalSession.LastUploadEnd == UploadEnd::FileSent &&
        TerminalSession.UploadLineNumber == 0) {
        TerminalSession.LastProgramProblem = ProgramProblem::Empty;
        char problem[UploadReportCapacity];
        DescribeProgramProblem(problem);
        Say("%s", problem);
        return ExitNoProgramFile;
    }
    char closing[UploadReportCapacity];
    DescribeUploadEnd(closing, TerminalSession.UploadPath, SecondsSince(start));
    int status = ExitSent;
    switch (TerminalSession.LastUploadEnd) {
    case UploadEnd::StoppedByStar:
    case UploadEnd::StoppedByPrompt:
        status = ExitStoppedByDevice;
        break;
    case UploadEnd::GaveUpOnSilence:
    case UploadEnd::GaveUpOnWrongAnswer:
    case UploadEnd::GaveUpOnShortSend:
        status = ExitGaveUp;
        break;
    case UploadEnd::DeviceGone:
        status = ExitDeviceGone;
        break;
    case UploadEnd::NotText:
    case UploadEnd::ReadFailed:
        status = ExitNoProgramFile;
        break;
    case UploadEnd::FileSent:
    case UploadEnd::None:
        break;
    }
    if (status != ExitSent || !options.quiet) {
        Say("%s", closing);
    }
    return status;
}

// The program file, opened, read through and checked before any port is touched, and only
// once, so that a pipe named as the program file (a script's <(...)) keeps its bytes. Returns
// nullptr, having said why, when it cannot be uploaded.
std::FILE* OpenProgram(const Options& options, std::int32_t* lineCount) {
    // A path too long to keep is refused as such by OpenProgramFile.
    SetUploadPath(options.path);
    std::FILE* program = OpenProgramFile(TerminalSession.UploadPath, lineCount);
    if (program != nullptr && *lineCount == 0) {
        std::fclose(program);
        program = nullptr;
        TerminalSession.LastProgramProblem = ProgramProblem::Empty;
    }
    if (program == nullptr) {
        char problem[UploadReportCapacity];
        DescribeProgramProblem(problem);
        Say("%s", problem);
    }
    return program;
}

// A child's progress is the count of lines acknowledged, for its parent's row.
void ReportProgress(std::int32_t /*total*/, Clock::time_point /*start*/) {
    ReportAcknowledged(AcknowledgedLines());
}

// `progress` shows how far the upload has come, or is nullptr.
using ProgressShown = void (*)(std::int32_t total, Clock::time_point start);

// One tick every 100 ms until the upload ends or an interrupt comes; a fast upload looks again
// as soon as the device has sent anything, and the progress is shown at the tick's pace.
// The core's words said on the way (a line that went out short) are said as they come.
void RunTicks(ProgressShown progress, std::int32_t total, Clock::time_point start) {
    Clock::time_point nextTick = start + TickPeriod;
    if (progress != nullptr) {
        progress(total, start);
    }
    while (TerminalSession.Uploading && !InterruptRequested()) {
        const bool fast = FastUploadRunning();
        for (Clock::time_point now = Clock::now(); now < nextTick && !InterruptRequested() && !fast;
             now = Clock::now()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextTick - now);
            WaitUnlessInterrupted(static_cast<unsigned>(wait.count()));
        }
        if (InterruptRequested()) {
            break;
        }
        if (fast) {
            // An interrupt is seen when the wait ends, within a tick period.
            PollArrived(ArrivalWaitMilliseconds());
        } else {
            PollTick();
        }
        if (TerminalSession.Uploading) {
            SayCoreMessage(TakeCoreMessage());
        }
        const Clock::time_point now = Clock::now();
        if (now < nextTick) {
            continue;
        }
        // Like a window's timer, a tick that ran late is not made up for by a burst.
        nextTick += TickPeriod;
        if (nextTick < now) {
            nextTick = now + TickPeriod;
        }
        if (progress != nullptr) {
            progress(total, start);
        }
    }
}

// Each child reads the program file for itself, checked here once before any starts.
int RunForManyPorts(const Options& options, std::int32_t lineCount) {
    if (lineCount == UncountedLines) {
        Say("%s is a pipe, which can be read once: several ports need a file", options.path);
        return ExitNoProgramFile;
    }
    ManyPortsRequest request{};
    std::copy(options.ports, options.ports + options.portCount, request.ports);
    request.portCount = options.portCount;
    request.all = options.all;
    request.fast = options.fast;
    request.quiet = options.quiet;
    request.log = options.log;
    request.path = options.path;
    request.lineCount = lineCount;
    CatchInterrupts();
    return RunManyPorts(request);
}

// The log first, so that a log that cannot be written stops the upload before a port is
// touched; then interrupts are caught, from before any port is open until the end.
int PrepareSession(const Options& options) {
    char reason[LogFileReasonCapacity] = "";
    if (options.log != nullptr && !StartLog(options.log, reason)) {
        Say("cannot log to %s: %s", options.log, reason);
        return ExitUsage;
    }
    CatchInterrupts();
    return ExitSent;
}

// Detection probes port after port without looking at the interrupt flag, so an interrupt
// during it is acted on when it is over (or a second one ends the program).
int ConnectBeforeUpload(const Options& options) {
    const int connected = Connect(options);
    if (!InterruptRequested()) {
        return connected;
    }
    ClosePortIfOpen();
    Say("interrupted before the upload started; no port is open");
    return ExitInterrupted;
}

ProgressShown ChooseProgress(const Options& options) {
    if (ReportingToParent()) {
        return ReportProgress;
    }
    return !options.quiet && StandardErrorIsTerminal() ? DrawProgress : nullptr;
}

// The port is open: the upload to its end or to an interrupt, then the port closed at once,
// also when interrupted, since another program may be waiting for it. What the device sent
// last ends its line first, as the line going quiet would have.
int Upload(const Options& options, std::FILE* program, std::int32_t lineCount) {
    const Clock::time_point start = Clock::now();
    UploadStart = start;
    TerminalSession.FastUploads = options.fast;
    StartUploadOf(program, lineCount);
    if (TerminalSession.Uploading) {
        SayCoreMessage(TakeCoreMessage());
    }
    RunTicks(ChooseProgress(options), TerminalSession.UploadLineTotal, start);
    EndReceivedChunk();
    ClosePortIfOpen();
    return Conclude(options, start);
}

int Run(const Options& options) {
    std::int32_t lineCount = 0;
    std::FILE* program = OpenProgram(options, &lineCount);
    if (program == nullptr) {
        return ExitNoProgramFile;
    }
    if (options.all || options.portCount > 1) {
        std::fclose(program);
        return RunForManyPorts(options, lineCount);
    }
    int status = PrepareSession(options);
    if (status == ExitSent) {
        status = ConnectBeforeUpload(options);
    }
    if (status != ExitSent) {
        std::fclose(program);
        StopLog();
        return status;
    }
    status = Upload(options, program, lineCount);
    StopLog();
    return status;
}

// A child of an upload to several ports: the ordinary upload, told in report lines, the last
// one saying how it ended, also when it never began.
int RunAsChild(const Options& options) {
    ReportToParent();
    const int status = Run(options);
    const bool started = UploadStart != Clock::time_point{};
    ReportEnd(status, AcknowledgedLines(), started ? SecondsSince(UploadStart) : 0.0);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    PrepareStandardOutput();
    NamePortListCommand("varnoth-upload --list-ports");
    Options options;
    const int parsed = ParseArguments(argc, argv, &options);
    if (parsed >= 0) {
        return parsed;
    }
    return options.reportToParent ? RunAsChild(options) : Run(options);
}
