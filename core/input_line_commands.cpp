#include "core/input_line_commands.h"

#include <cstring>

#include "core/pane.h"
#include "core/poll_cycle.h"
#include "core/port_connection.h"
#include "core/terminal_session.h"
#include "core/upload.h"

namespace {

constexpr char OpenCommand[] = "open";
// "open" is matched as a prefix: what follows it is the argument.
constexpr std::size_t OpenCommandLength = sizeof OpenCommand - 1;
constexpr const char* UploadCommand = "rp!";
constexpr const char* ClearCommand = "clear";

void OpenCommandRun(const char* argument) {
    // A failed "open" must leave no port open, so the old one goes first. What it was still
    // sending ends there, so the pane's line ends before the command's report.
    EndReceivedChunk();
    TerminalSession.WaitingForLostPort = false;
    if (TerminalSession.PortHandle != InvalidPortHandle) {
        ClosePort(TerminalSession.PortHandle);
        TerminalSession.PortHandle = InvalidPortHandle;
    }
    ConnectPort(argument);
}

void UploadCommandRun() {
    if (StartUpload() != ResultSuccess) {
        AppendOutput("no program to upload found!!!\n");
    }
}

// The device ends its lines with a lone line feed; no carriage return is added.
void SendLine(const char* text, bool withLineFeed) {
    WritePort(TerminalSession.PortHandle, text, std::strlen(text));
    if (withLineFeed) {
        WritePort(TerminalSession.PortHandle, "\n", 1);
    }
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
    return isLocalCommand;
}
