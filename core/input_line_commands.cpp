#include "core/input_line_commands.h"

#include <cstdio>
#include <cstring>

#include "core/pane.h"
#include "core/pane_primitives.h"
#include "core/port_connection.h"
#include "core/session_log.h"
#include "core/terminal_session.h"
#include "core/upload.h"
#include "core/upload_report.h"

namespace {

constexpr char OpenCommand[] = "open";
// "open" is matched as a prefix: what follows it is the argument.
constexpr std::size_t OpenCommandLength = sizeof OpenCommand - 1;
constexpr const char* UploadCommand = "rp!";
constexpr const char* ClearCommand = "clear";
// A report of a short send: a 32-bit port number and two byte counts, with room to spare.
constexpr std::size_t ShortSendReportCapacity = 128;

void OpenCommandRun(const char* argument) {
    // A failed "open" must leave no port open, so the old one goes first. What it was still
    // sending ends there, so the pane's line ends before the command's report.
    EndReceivedChunk();
    TerminalSession.WaitingForLostPort = false;
    ClosePortIfOpen();
    ConnectPort(argument);
}

// The reason follows on a line of its own, as "open" gives one after its failure.
void UploadCommandRun() {
    if (StartUpload() != ResultSuccess) {
        AppendOutput("no program to upload found!!!\n");
        char reason[UploadReportCapacity];
        DescribeProgramProblem(reason);
        AppendOutput(reason);
        AppendOutput("\n");
    }
}

// The device ends its lines with a lone line feed; no carriage return is added. A line that
// goes out short is said, and its line feed held back, so that the device does not run the
// part as a command. With no port open nothing goes out and nothing is said.
void SendLine(const char* text, bool withLineFeed) {
    const SerialHandle port = TerminalSession.PortHandle;
    const std::size_t length = std::strlen(text);
    const std::size_t lineFeeds = withLineFeed ? 1 : 0;
    const std::size_t sent = WritePort(port, text, length);
    const bool textWhole = sent == length || port == InvalidPortHandle;
    const std::size_t lineFeedsSent = textWhole && withLineFeed ? WritePort(port, "\n", 1) : 0;
    // Logged as it went out, the line feed with it; with no port open nothing went out.
    if (port != InvalidPortHandle) {
        char logged[InputLineCapacity + 1];
        std::memcpy(logged, text, sent);
        std::memcpy(logged + sent, "\n", lineFeedsSent);
        LogBytes(LogSource::Sent, logged, sent + lineFeedsSent, MonotonicMilliseconds());
    }
    if (port == InvalidPortHandle || PortDeviceGone(port) ||
        (textWhole && lineFeedsSent == lineFeeds)) {
        return;
    }
    const std::size_t whole = length + lineFeeds;
    char report[ShortSendReportCapacity];
    std::snprintf(report, sizeof report,
                  "port %ld: the typed line went out short, %zu of %zu bytes\n",
                  static_cast<long>(TerminalSession.PortNumber), sent + lineFeedsSent, whole);
    AppendReport(report);
}

} // namespace

bool ExecuteInputLine(bool leftCtrlHeld) {
    char text[InputLineCapacity];
    ReadInputLine(text, InputLineCapacity);
    text[InputLineCapacity - 1] = '\0';
    bool isLocalCommand = true;
    if (std::strncmp(text, OpenCommand, OpenCommandLength) == 0) {
        OpenCommandRun(text + OpenCommandLength);
    } else if (std::strcmp(text, UploadCommand) == 0) {
        UploadCommandRun();
    } else if (std::strcmp(text, ClearCommand) == 0) {
        ClearOutput();
    } else {
        SendLine(text, !leftCtrlHeld);
        isLocalCommand = false;
    }
    ClearInputLine();
    ReportLogFailure();
    return isLocalCommand;
}
