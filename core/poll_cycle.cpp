#include "core/poll_cycle.h"

#include "core/control_bytes.h"
#include "core/pane.h"
#include "core/terminal_session.h"
#include "core/upload.h"

namespace {

// Fixed buffers: nothing is allocated per tick.
char ReceiveBuffer[ReceiveCapacity];
char DisplayBuffer[DisplayCapacity];

void FeedUpload(const char* chunk, std::size_t count) {
    for (std::size_t i = 0; i < count && TerminalSession.Uploading; ++i) {
        UploadStep(chunk[i]);
    }
    TerminalSession.IdleTicks = 0;
}

// Counts a quiet tick during an upload; a long silence asks for the line again.
void CountQuietTick() {
    const int quietTicksBefore = TerminalSession.IdleTicks;
    TerminalSession.IdleTicks = quietTicksBefore + 1;
    if (quietTicksBefore >= UploadSilenceTicks - 1) {
        TerminalSession.IdleTicks = 0;
        UploadStep(TimeoutMarker);
    }
}

} // namespace

const char* ConvertForDisplay(const char* chunk) {
    std::size_t out = 0;
    for (std::size_t in = 0; in < ReceiveCapacity - 1 && chunk[in] != '\0'; ++in) {
        const char byte = chunk[in];
        if (byte == Xon || byte == Xoff) {
            continue;
        }
        if (byte == '\n') {
            DisplayBuffer[out++] = '\r';
        }
        DisplayBuffer[out++] = byte;
    }
    DisplayBuffer[out] = '\0';
    return DisplayBuffer;
}

void PollTick() {
    const std::size_t count = ReadPort(TerminalSession.PortHandle, ReceiveBuffer, ReceiveCapacity);
    if (count == 0) {
        if (TerminalSession.Uploading) {
            CountQuietTick();
        }
        return;
    }
    if (TerminalSession.Uploading) {
        FeedUpload(ReceiveBuffer, count);
    }
    AppendOutput(ConvertForDisplay(ReceiveBuffer));
    // Outside uploads every chunk ends a line; during one the device's one-character answers
    // collect on a single line.
    if (!TerminalSession.Uploading) {
        AppendOutput("\r\n");
    }
}
