// The parent of an upload to several ports: starts a child per port, follows their report
// lines, shows a row per port and ends with the table. How it works: shell/upload/many_ports.h.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/terminal_session.h"
#include "shell/upload/many_ports.h"
#include "shell/upload/upload_console.h"

namespace {

using Clock = std::chrono::steady_clock;

// The rows are redrawn at the children's tick pace: each reports at most once a tick.
constexpr unsigned RedrawMilliseconds = 100;
// A device's name as the system gives it ("ttyUSB0", "pts/12"); a longer one is cut.
constexpr std::size_t DeviceNameCapacity = 64;
// Room for a child's arguments: --report-to-parent, --only-if-answering, --fast, --port N,
// --log FILE, "--", the program file and the nullptr.
constexpr int ChildArgumentCapacity = 12;
// Any 32-bit number's digits, its sign and the NUL.
constexpr std::size_t PortDigitsCapacity = 12;
// A row: port, device, counts and percent, and the ending's words.
constexpr std::size_t RowCapacity = SaidTextCapacity + DeviceNameCapacity + 64;

enum class Progress : std::uint8_t { Starting, Uploading, Ended, Absent };

struct PortUpload {
    std::int32_t number = 0;
    Progress progress = Progress::Starting;
    // Its child was started and has not been reaped yet.
    bool running = false;
    // Whether it has a row: once the port is open, or its upload ended without it.
    bool shown = false;
    char device[DeviceNameCapacity] = "";
    std::int32_t acknowledged = 0;
    // The exit status it ended with, the seconds its upload ran and how it ended.
    int status = ExitSent;
    double seconds = 0;
    bool endSaid = false;
    char ending[SaidTextCapacity] = "";
    // A report line not yet ended.
    char pending[ReportLineCapacity] = "";
    std::size_t pendingLength = 0;
};

PortUpload Uploads[ChildCapacity];
int UploadCount = 0;
std::int32_t LineTotal = 0;

// How the progress is shown: rows redrawn in place, or a line per port as it ends.
enum class Display : std::uint8_t { None, Rows, Lines };
Display Shown = Display::None;
std::size_t DrawnRows = 0;

// Cut to fit. From a report line into fields of the same record: snprintf's arguments may not
// overlap, and an optimising compiler cannot tell that these do not.
void Copy(char* to, std::size_t capacity, const char* from) {
    std::size_t length = std::strlen(from);
    length = length < capacity ? length : capacity - 1;
    std::memmove(to, from, length);
    to[length] = '\0';
}

void TakeLine(PortUpload& upload, const char* line) {
    int status = 0;
    long lines = 0;
    double seconds = 0;
    int textAt = 0;
    if (std::strncmp(line, "device ", 7) == 0) {
        // "-": the port has no name but its number, as a COM port.
        Copy(upload.device, sizeof upload.device, std::strcmp(line + 7, "-") == 0 ? "" : line + 7);
        upload.progress = Progress::Uploading;
        upload.shown = true;
    } else if (std::sscanf(line, "line %ld", &lines) == 1) {
        upload.acknowledged = static_cast<std::int32_t>(lines);
    } else if (std::strcmp(line, "absent") == 0) {
        upload.progress = Progress::Absent;
    } else if (std::sscanf(line, "end %d %ld %lf %n", &status, &lines, &seconds, &textAt) == 3 &&
               textAt > 0) {
        upload.status = status;
        upload.acknowledged = static_cast<std::int32_t>(lines);
        upload.seconds = seconds;
        upload.endSaid = true;
        Copy(upload.ending, sizeof upload.ending, line + textAt);
    }
}

// Splits what a child wrote into its lines; a line longer than a report line is cut.
void TakeBytes(PortUpload& upload, const char* bytes, long count) {
    for (long i = 0; i < count; ++i) {
        const char byte = bytes[i];
        if (byte == '\n') {
            upload.pending[upload.pendingLength] = '\0';
            TakeLine(upload, upload.pending);
            upload.pendingLength = 0;
        } else if (byte != '\r' && upload.pendingLength + 1 < sizeof upload.pending) {
            upload.pending[upload.pendingLength++] = byte;
        }
    }
}

const char* DeviceOf(const PortUpload& upload) {
    return upload.device[0] != '\0' ? upload.device : "-";
}

// A child ended: its exit status is what counts, and one that said nothing is told by it.
void Finish(PortUpload& upload, int exitStatus) {
    if (upload.progress == Progress::Absent) {
        return;
    }
    upload.progress = Progress::Ended;
    upload.shown = true;
    upload.status = exitStatus;
    if (!upload.endSaid) {
        if (exitStatus > 128) {
            std::snprintf(upload.ending, sizeof upload.ending,
                          "ended by signal %d before saying how the upload went", exitStatus - 128);
        } else {
            std::snprintf(upload.ending, sizeof upload.ending,
                          "ended with exit status %d before saying how the upload went",
                          exitStatus);
        }
    }
    if (Shown == Display::Lines) {
        // "port 4 (-)" would read as a device named "-".
        if (upload.device[0] != '\0') {
            Say("port %ld (%s): %s", static_cast<long>(upload.number), upload.device,
                upload.ending);
        } else {
            Say("port %ld: %s", static_cast<long>(upload.number), upload.ending);
        }
    }
}

std::size_t ShownCount() {
    std::size_t count = 0;
    for (int i = 0; i < UploadCount; ++i) {
        count += Uploads[i].shown ? 1 : 0;
    }
    return count;
}

std::size_t DeviceWidth() {
    std::size_t width = 1;
    for (int i = 0; i < UploadCount; ++i) {
        const std::size_t length = std::strlen(DeviceOf(Uploads[i]));
        width = length > width ? length : width;
    }
    return width;
}

void FormatRow(const PortUpload& upload, char (&row)[RowCapacity]) {
    const long done = upload.acknowledged;
    const long percent = LineTotal > 0 ? 100L * done / LineTotal : 100L;
    const int countWidth = std::snprintf(nullptr, 0, "%ld", static_cast<long>(LineTotal));
    const int written =
        std::snprintf(row, sizeof row, "port %3ld  %-*s  %*ld of %ld lines  %3ld %%",
                      static_cast<long>(upload.number), static_cast<int>(DeviceWidth()),
                      DeviceOf(upload), countWidth, done, static_cast<long>(LineTotal), percent);
    if (upload.progress == Progress::Ended && written > 0 &&
        static_cast<std::size_t>(written) < sizeof row) {
        std::snprintf(row + written, sizeof row - static_cast<std::size_t>(written), "  %s",
                      upload.ending);
    }
}

// Every row again, each cut to the terminal's width less one (a full row would wrap on some
// terminals and move the rest down) and filled with blanks over what a longer row left.
void DrawRows() {
    std::size_t columns = 0;
    std::size_t rows = 0;
    const std::size_t count = ShownCount();
    if (!TerminalSize(&columns, &rows) || count >= rows) {
        // Rows that do not fit cannot be redrawn in place: the rest is said as it ends.
        Shown = Display::Lines;
        return;
    }
    MoveCursorUpRows(DrawnRows);
    const std::size_t width = columns - 1;
    for (int i = 0; i < UploadCount; ++i) {
        if (!Uploads[i].shown) {
            continue;
        }
        char row[RowCapacity];
        FormatRow(Uploads[i], row);
        std::fprintf(stderr, "%-*.*s\n", static_cast<int>(width), static_cast<int>(width), row);
    }
    DrawnRows = count;
    std::fflush(stderr);
}

void PrintTable() {
    int resultWidth = 6;
    int linesWidth = 5;
    for (int i = 0; i < UploadCount; ++i) {
        const PortUpload& upload = Uploads[i];
        if (!upload.shown) {
            continue;
        }
        const int result = static_cast<int>(std::strlen(upload.ending));
        const int lines =
            std::snprintf(nullptr, 0, "%ld of %ld", static_cast<long>(upload.acknowledged),
                          static_cast<long>(LineTotal));
        resultWidth = result > resultWidth ? result : resultWidth;
        linesWidth = lines > linesWidth ? lines : linesWidth;
    }
    const int deviceWidth = static_cast<int>(DeviceWidth() > 6 ? DeviceWidth() : 6);
    std::fprintf(stderr, "port  %-*s  %-*s  %-*s  time\n", deviceWidth, "device", resultWidth,
                 "result", linesWidth, "lines");
    for (int i = 0; i < UploadCount; ++i) {
        const PortUpload& upload = Uploads[i];
        if (!upload.shown) {
            continue;
        }
        char lines[32];
        std::snprintf(lines, sizeof lines, "%ld of %ld", static_cast<long>(upload.acknowledged),
                      static_cast<long>(LineTotal));
        std::fprintf(stderr, "%4ld  %-*s  %-*s  %*s  %.1f s\n", static_cast<long>(upload.number),
                     deviceWidth, DeviceOf(upload), resultWidth, upload.ending, linesWidth, lines,
                     upload.seconds);
    }
    std::fflush(stderr);
}

// Starts the child for Uploads[slot]; one that cannot be started has ended, saying why.
bool StartChildFor(const ManyPortsRequest& request, int slot) {
    PortUpload& upload = Uploads[slot];
    char number[PortDigitsCapacity];
    std::snprintf(number, sizeof number, "%ld", static_cast<long>(upload.number));
    char log[UploadPathCapacity];
    const char* arguments[ChildArgumentCapacity] = {"--report-to-parent", "--port", number};
    int count = 3;
    if (request.all) {
        arguments[count++] = "--only-if-answering";
    }
    if (request.fast) {
        arguments[count++] = "--fast";
    }
    if (request.log != nullptr) {
        if (!LogPathForPort(request.log, upload.number, log, sizeof log)) {
            upload.endSaid = true;
            std::snprintf(upload.ending, sizeof upload.ending,
                          "cannot log to %s with the port's number: the path is too long",
                          request.log);
            Finish(upload, ExitUsage);
            return false;
        }
        arguments[count++] = "--log";
        arguments[count++] = log;
    }
    arguments[count++] = "--";
    arguments[count++] = request.path;
    arguments[count] = nullptr;
    char reason[ChildReasonCapacity];
    if (StartChild(slot, arguments, reason)) {
        upload.running = true;
        return true;
    }
    upload.endSaid = true;
    Copy(upload.ending, sizeof upload.ending, reason);
    Finish(upload, ExitNoPort);
    return false;
}

// Reads what child `slot` wrote; true when it has ended.
bool FollowChild(int slot) {
    char bytes[ReportLineCapacity];
    long got;
    while ((got = ReadChild(slot, bytes, sizeof bytes)) > 0) {
        TakeBytes(Uploads[slot], bytes, got);
    }
    if (got == 0) {
        return false;
    }
    Uploads[slot].running = false;
    Finish(Uploads[slot], ReapChild(slot));
    return true;
}

void SetUpPorts(const ManyPortsRequest& request) {
    UploadCount = 0;
    if (request.all) {
        bool present[PortNumberLimit] = {};
        FindPresentPorts(present);
        for (std::int32_t number = 1; number < PortNumberLimit; ++number) {
            if (present[number]) {
                Uploads[UploadCount++].number = number;
            }
        }
    }
    for (int i = 0; i < request.portCount; ++i) {
        Uploads[UploadCount++].number = request.ports[i];
    }
    // Rows and table in the order of the ports' numbers.
    std::sort(Uploads, Uploads + UploadCount,
              [](const PortUpload& a, const PortUpload& b) { return a.number < b.number; });
}

int ExitStatus(const ManyPortsRequest& request) {
    if (InterruptRequested()) {
        return ExitInterrupted;
    }
    int found = 0;
    bool failed = false;
    for (int i = 0; i < UploadCount; ++i) {
        if (Uploads[i].progress == Progress::Absent) {
            continue;
        }
        ++found;
        failed = failed || Uploads[i].status != ExitSent;
    }
    if (request.all && found == 0) {
        return ExitNoPort;
    }
    return failed ? ExitSomePortsFailed : ExitSent;
}

} // namespace

bool LogPathForPort(const char* log, std::int32_t number, char* path, std::size_t capacity) {
    const char* name = log;
    for (const char* at = log; *at != '\0'; ++at) {
        if (*at == '/' || *at == '\\') {
            name = at + 1;
        }
    }
    // A leading dot names a hidden file, not an extension.
    const char* dot = std::strrchr(name, '.');
    const std::size_t stem =
        dot != nullptr && dot != name ? static_cast<std::size_t>(dot - log) : std::strlen(log);
    const int written = std::snprintf(path, capacity, "%.*s-%ld%s", static_cast<int>(stem), log,
                                      static_cast<long>(number), log + stem);
    return written > 0 && static_cast<std::size_t>(written) < capacity;
}

int RunManyPorts(const ManyPortsRequest& request) {
    LineTotal = request.lineCount;
    SetUpPorts(request);
    Shown = request.quiet               ? Display::None
            : StandardErrorIsTerminal() ? Display::Rows
                                        : Display::Lines;
    int running = 0;
    for (int slot = 0; slot < UploadCount; ++slot) {
        running += StartChildFor(request, slot) ? 1 : 0;
    }
    bool interruptPassedOn = false;
    Clock::time_point drawnAt = Clock::now() - std::chrono::milliseconds(RedrawMilliseconds);
    while (running > 0) {
        WaitForChildren(RedrawMilliseconds);
        if (InterruptRequested() && !interruptPassedOn) {
            InterruptChildren();
            interruptPassedOn = true;
        }
        for (int slot = 0; slot < UploadCount; ++slot) {
            if (Uploads[slot].running && FollowChild(slot)) {
                --running;
            }
        }
        const Clock::time_point now = Clock::now();
        if (Shown == Display::Rows &&
            now - drawnAt >= std::chrono::milliseconds(RedrawMilliseconds)) {
            DrawRows();
            drawnAt = now;
        }
    }
    if (Shown == Display::Rows) {
        DrawRows();
    }
    const int status = ExitStatus(request);
    if (status == ExitNoPort) {
        Say("no port answered the identification request as the device does");
    } else if (status != ExitSent || !request.quiet) {
        PrintTable();
    }
    return status;
}
