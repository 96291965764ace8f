#include "shell/window_state.h"

#include <cstdio>
#include <cstring>

#include "core/session_log.h"
#include "shell/window_layout.h"

namespace {

// Where the terminal stands: the closing words are the longest.
constexpr std::size_t StandingCapacity = UploadReportCapacity;
// "logging to NAME - ".
constexpr std::size_t LoggingCapacity = UploadPathCapacity + 16;
static_assert(WindowTitleCapacity >= StandingCapacity + LoggingCapacity + 32,
              "the title holds them all and the window's name");

// The name after the last folder. Windows paths may use either separator; on Linux a name
// with a backslash in it shows only its part after it, which still tells the files apart.
const char* FileName(const char* path) {
    const char* name = path;
    for (const char* at = path; *at != '\0'; ++at) {
        if (*at == '/' || *at == '\\') {
            name = at + 1;
        }
    }
    return name;
}

// Where the port stands, or nothing when no port is open and none is waited for.
void DescribePort(char (&text)[StandingCapacity]) {
    const long number = TerminalSession.PortNumber;
    text[0] = '\0';
    if (TerminalSession.WaitingForLostPort) {
        std::snprintf(text, sizeof text, "port %ld lost, waiting for it", number);
    } else if (TerminalSession.PortHandle != InvalidPortHandle && OpenedDeviceName()[0] != '\0') {
        std::snprintf(text, sizeof text, "port %ld (%s)", number, OpenedDeviceName());
    } else if (TerminalSession.PortHandle != InvalidPortHandle) {
        std::snprintf(text, sizeof text, "port %ld", number);
    }
}

void MakePlaceholder(char (&placeholder)[PlaceholderCapacity]) {
    if (TerminalSession.PortHandle == InvalidPortHandle) {
        std::snprintf(placeholder, sizeof placeholder,
                      "type open 1 to connect to port 1, or open 0 to find the device");
    } else if (TerminalSession.UploadPath[0] == '\0') {
        std::snprintf(placeholder, sizeof placeholder,
                      "a line typed here goes to the device; no program file was named for rp!");
    } else {
        std::snprintf(placeholder, sizeof placeholder,
                      "a line typed here goes to the device; rp! uploads %s",
                      FileName(TerminalSession.UploadPath));
    }
}

} // namespace

bool UpdateWindowState(WindowState* state, bool lineEntered, char (&title)[WindowTitleCapacity],
                       char (&placeholder)[PlaceholderCapacity]) {
    const bool uploading = TerminalSession.Uploading != 0;
    const bool ended = state->uploading && !uploading;
    state->uploading = uploading;
    if (ended) {
        const double seconds =
            (MonotonicMilliseconds() - TerminalSession.UploadStartedAt) / 1000.0;
        DescribeUploadEnd(state->uploadEnd, FileName(TerminalSession.UploadPath), seconds);
        state->portAtEnd = TerminalSession.PortHandle;
        state->waitingAtEnd = TerminalSession.WaitingForLostPort;
    } else if (lineEntered || state->portAtEnd != TerminalSession.PortHandle ||
               state->waitingAtEnd != TerminalSession.WaitingForLostPort) {
        state->uploadEnd[0] = '\0';
    }
    char standing[StandingCapacity];
    char ofTotal[OfLineTotalCapacity];
    if (uploading) {
        std::snprintf(standing, sizeof standing, "%s: line %ld%s",
                      FileName(TerminalSession.UploadPath),
                      static_cast<long>(TerminalSession.UploadLineNumber), OfLineTotal(ofTotal));
    } else if (state->uploadEnd[0] != '\0') {
        std::snprintf(standing, sizeof standing, "%s", state->uploadEnd);
    } else {
        DescribePort(standing);
    }
    char logging[LoggingCapacity] = "";
    if (LogPath() != nullptr) {
        std::snprintf(logging, sizeof logging, "logging to %s - ", FileName(LogPath()));
    }
    std::snprintf(title, sizeof title, "%s%s%s%s", standing, standing[0] != '\0' ? " - " : "",
                  logging, WindowTitle);
    MakePlaceholder(placeholder);
    return ended;
}
