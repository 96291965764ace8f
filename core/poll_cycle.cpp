#include "core/poll_cycle.h"

#include "core/control_bytes.h"
#include "core/pane.h"
#include "core/port_connection.h"
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

// Counts an idle tick during an upload; a long silence asks for the line again.
void CountIdleTick() {
    const int idleTicksBefore = TerminalSession.IdleTicks;
    TerminalSession.IdleTicks = idleTicksBefore + 1;
    if (idleTicksBefore >= UploadIdleTickLimit - 1) {
        TerminalSession.IdleTicks = 0;
        UploadStep(TimeoutMarker);
    }
}

} // namespace

const char* ConvertForDisplay(const char* bytes, std::size_t count) {
    std::size_t out = 0;
    for (std::size_t in = 0; in < count && in < ReceiveCapacity - 1; ++in) {
        const char byte = bytes[in];
        if (byte == Xon || byte == Xoff || byte == '\0') {
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
    if (TerminalSession.WaitingForLostPort) {
        LookForLostPort();
    }
    // What this tick reads continues the open chunk, so it may take only what the chunk has
    // room for.
    bool lineWentQuiet = true;
    const std::size_t count = ReadPort(TerminalSession.PortHandle, ReceiveBuffer,
                                       ReceiveCapacity - TerminalSession.ReceivedInChunk,
                                       PollReadBudgetMilliseconds, &lineWentQuiet);
    if (count > 0) {
        if (TerminalSession.Uploading) {
            FeedUpload(ReceiveBuffer, count);
        }
        AppendDeviceText(ConvertForDisplay(ReceiveBuffer, count));
        TerminalSession.ReceivedInChunk += count;
    }
    if (lineWentQuiet || TerminalSession.ReceivedInChunk == ReceiveCapacity - 1) {
        EndReceivedChunk();
    }
    // After the bytes that came before it: they are shown, and an upload has acted on them.
    // A device that went away is not a silent one, so its ticks are not idle ones.
    if (PortDeviceGone(TerminalSession.PortHandle)) {
        LosePort();
        return;
    }
    // A tick that read anything is not an idle one, even if it only continued a chunk.
    if (count == 0 && TerminalSession.Uploading) {
        CountIdleTick();
    }
}
