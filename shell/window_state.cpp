#include "shell/window_state.h"

#include <cstdio>
#include <cstring>

#include "shell/window_layout.h"

namespace {

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

void MakePortTitle(char (&title)[WindowTitleCapacity]) {
    const long number = TerminalSession.PortNumber;
    if (TerminalSession.WaitingForLostPort) {
        std::snprintf(title, sizeof title, "port %ld lost, waiting for it - %s", number,
                      WindowTitle);
    } else if (TerminalSession.PortHandle == InvalidPortHandle) {
        std::snprintf(title, sizeof title, "%s", WindowTitle);
    } else if (OpenedDeviceName()[0] != '\0') {
        std::snprintf(title, sizeof title, "port %ld (%s) - %s", number, OpenedDeviceName(),
                      WindowTitle);
    } else {
        std::snprintf(title, sizeof title, "port %ld - %s", number, WindowTitle);
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

bool UpdateWindowState(WindowState* state, double now, bool lineEntered,
                       char (&title)[WindowTitleCapacity],
                       char (&placeholder)[PlaceholderCapacity]) {
    const bool uploading = TerminalSession.Uploading != 0;
    const bool ended = state->uploading && !uploading;
    if (!state->uploading && uploading) {
        state->uploadStarted = now;
    }
    state->uploading = uploading;
    if (ended) {
        DescribeUploadEnd(state->uploadEnd, FileName(TerminalSession.UploadPath),
                          now - state->uploadStarted);
        state->portAtEnd = TerminalSession.PortHandle;
        state->waitingAtEnd = TerminalSession.WaitingForLostPort;
    } else if (lineEntered || state->portAtEnd != TerminalSession.PortHandle ||
               state->waitingAtEnd != TerminalSession.WaitingForLostPort) {
        state->uploadEnd[0] = '\0';
    }
    char ofTotal[OfLineTotalCapacity];
    if (uploading) {
        std::snprintf(
            title, sizeof title, "%s: line %ld%s - %s", FileName(TerminalSession.UploadPath),
            static_cast<long>(TerminalSession.UploadLineNumber), OfLineTotal(ofTotal), WindowTitle);
    } else if (state->uploadEnd[0] != '\0') {
        std::snprintf(title, sizeof title, "%s - %s", state->uploadEnd, WindowTitle);
    } else {
        MakePortTitle(title);
    }
    MakePlaceholder(placeholder);
    return ended;
}
