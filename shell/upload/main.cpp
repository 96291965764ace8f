// varnoth-upload [--port N] [--fast] [--quiet] PROGRAM-FILE | --list-ports: the program's entry, its
// arguments, the tick loop and the exit status. How the parts fit: shell/upload/upload_console.h.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <getopt.h>

#include "core/pane.h"
#include "core/poll_cycle.h"
#include "core/port_connection.h"
#include "core/terminal_session.h"
#include "core/upload.h"
#include "core/session_log.h"
#include "core/upload_report.h"
#include "shell/upload/upload_console.h"

namespace {

using Clock = std::chrono::steady_clock;

// The exit status a script can rely on; the usage text lists them.
constexpr int ExitSent = 0;
constexpr int ExitStoppedByDevice = 1;
constexpr int ExitUsage = 2;
constexpr int ExitGaveUp = 3;
constexpr int ExitNoPort = 4;
constexpr int ExitNoProgramFile = 5;
constexpr int ExitDeviceGone = 6;
// The shells' own status for a program ended by SIGINT: 128 and the signal's number.
constexpr int ExitInterrupted = 130;

// In the shape help2man reads ("Usage:", an "Exit status:" heading), which makes the manual page.
constexpr const char* Usage =
    "Usage: varnoth-upload [--port N] [--fast] [--log FILE] [--quiet] PROGRAM-FILE\n"
    "  or:  varnoth-upload --list-ports | --help | --version\n"
    "Uploads PROGRAM-FILE to the device one line at a time, as \"rp!\" in the terminal does.\n"
    "\n"
    "  --port N      the port, numbered as for \"open N\" in the terminal (1 to 255); without\n"
    "                it, or with 0, the device is found as \"open 0\" finds it\n"
    "  --fast        send each line as soon as the device answers the one before, not at\n"
    "                the next 100 ms tick: as fast as the device paces it; the lines, the\n"
    "                answers, the retries and the one-second silence rule stay the same\n"
    "  --log FILE    log the session into FILE, appended to: each line sent, each answer\n"
    "                and the upload's end, with their times\n"
    "  --quiet       no progress line, and no messages when all goes well\n"
    "  --list-ports  the ports present, with the numbers --port takes\n"
    "  --help        this text\n"
    "  --version     the program's version\n"
    "\n"
    "What the device sends goes to standard output; messages and the progress line go to\n"
    "standard error.\n"
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
    "  130  interrupted (Ctrl+C, SIGTERM, SIGHUP, the console closed)\n";

// "open N" takes the text after "open": a blank and the number (room for any 32-bit one).
constexpr std::size_t PortArgumentCapacity = 16;
// The progress line: counts, percent, pace and time left, well within a terminal's width.
constexpr std::size_t ProgressCapacity = 96;
constexpr auto TickPeriod = std::chrono::milliseconds(PollIntervalMilliseconds);

struct Options {
    std::int32_t port = DetectPortNumber;
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
    enum Choice { Port = 1, Fast, Log, Quiet, ListPorts, Help, Version };
    static const option Known[] = {{"port", required_argument, nullptr, Port},
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

int Connect(const Options& options) {
    char argument[PortArgumentCapacity];
    std::snprintf(argument, sizeof argument, " %ld", static_cast<long>(options.port));
    const bool connected = ConnectPort(argument) == ResultSuccess;
    const char* message = TakeCoreMessage();
    if (connected) {
        if (options.quiet) {
            return ExitSent;
        }
        // Detection is silent in the pane; a script's log should say which port it kept.
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
        return ExitSent;
    }
    const int reported = SayCoreMessage(message);
    // One explanation: the serial link's reason follows the core's line when it has one.
    if (options.port == DetectPortNumber) {
        Say("no port answered the identification request as the device does");
    } else if (reported < 2) {
        Say("port %ld is missing, or another program holds it", static_cast<long>(options.port));
    }
    return ExitNoPort;
}

void DrawProgress(std::int32_t total, Clock::time_point start) {
    const std::int32_t sent = TerminalSession.UploadLineNumber;
    // The line out last waits for its answer, unless it was the file's last and went through.
    const bool allAnswered = TerminalSession.LastUploadEnd == UploadEnd::FileSent;
    const std::int32_t acknowledged = allAnswered ? sent : sent > 0 ? sent - 1 : 0;
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

// One tick every 100 ms until the upload ends or an interrupt comes; a fast upload looks again
// as soon as the device has sent anything, and the progress line is redrawn at the tick's pace.
// The core's words said on the way (a line that went out short) are said as they come.
void RunTicks(bool showProgress, std::int32_t total, Clock::time_point start) {
    Clock::time_point nextTick = start + TickPeriod;
    if (showProgress) {
        DrawProgress(total, start);
    }
    while (TerminalSession.Uploading && !InterruptRequested()) {
        const bool fast = FastUploadRunning();
        for (Clock::time_point now = Clock::now();
             now < nextTick && !InterruptRequested() && !fast; now = Clock::now()) {
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
        if (showProgress) {
            DrawProgress(total, start);
        }
    }
}

int Run(const Options& options) {
    std::int32_t lineCount = 0;
    std::FILE* program = OpenProgram(options, &lineCount);
    if (program == nullptr) {
        return ExitNoProgramFile;
    }
    char reason[LogFileReasonCapacity] = "";
    if (options.log != nullptr && !StartLog(options.log, reason)) {
        std::fclose(program);
        Say("cannot log to %s: %s", options.log, reason);
        return ExitUsage;
    }
    CatchInterrupts();
    // Detection probes port after port without looking at the interrupt flag, so an
    // interrupt during it is acted on when it is over (or a second one ends the program).
    const int connected = Connect(options);
    if (InterruptRequested()) {
        std::fclose(program);
        ClosePortIfOpen();
        Say("interrupted before the upload started; no port is open");
        return ExitInterrupted;
    }
    if (connected != ExitSent) {
        std::fclose(program);
        return connected;
    }
    const Clock::time_point start = Clock::now();
    TerminalSession.FastUploads = options.fast;
    StartUploadOf(program, lineCount);
    if (TerminalSession.Uploading) {
        SayCoreMessage(TakeCoreMessage());
    }
    RunTicks(!options.quiet && StandardErrorIsTerminal(), TerminalSession.UploadLineTotal, start);
    // At once, also when interrupted: another program may be waiting for the port. What the
    // device sent last ends its line first, as the line going quiet would have.
    EndReceivedChunk();
    ClosePortIfOpen();
    const int status = Conclude(options, start);
    StopLog();
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
    return Run(options);
}
