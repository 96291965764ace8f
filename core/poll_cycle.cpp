#include "core/poll_cycle.h"

#include "core/protocol.h"
#include "core/pane.h"
#include "core/port_connection.h"
#include "core/session_log.h"
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

// What a read brought: a running upload acts on it first, then it is logged and shown,
// continuing the chunk.
void TakeReceived(std::size_t count) {
    if (TerminalSession.Uploading) {
        FeedUpload(ReceiveBuffer, count);
    }
    const unsigned long long takenAt = FirstByteTakenAt();
    LogBytes(LogSource::Device, ReceiveBuffer, count, takenAt);
    if (TerminalSession.ShowHex) {
        AppendHexRows(ReceiveBuffer, count, takenAt);
    } else {
        AppendDeviceText(ConvertForDisplay(ReceiveBuffer, count), takenAt);
    }
    TerminalSession.ReceivedInChunk += count;
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
        TakeReceived(count);
    }
    if (lineWentQuiet || TerminalSession.ReceivedInChunk == ReceiveCapacity - 1) {
        EndReceivedChunk();
    }
    // After the bytes that came before it: they are shown, and an upload has acted on them.
    // A device that went away is not a silent one, so its ticks are not idle ones.
    if (PortDeviceGone(TerminalSession.PortHandle)) {
        LosePort();
    } else if (count == 0 && TerminalSession.Uploading) {
        // A tick that read anything is not an idle one, even if it only continued a chunk.
        CountIdleTick();
    }
    ReportLogFailure();
}

bool FastUploadRunning() {
    return TerminalSession.Uploading && TerminalSession.UploadIsFast;
}

void PollArrived(unsigned waitMilliseconds) {
    const SerialHandle port = TerminalSession.PortHandle;
    if (TerminalSession.LastArrivalPollAt == 0) {
        TerminalSession.LastArrivalPollAt = MonotonicMilliseconds();
    }
    // With no port nothing can arrive; the wait is kept all the same, so that the silence
    // rule counts on.
    if (port == InvalidPortHandle) {
        SleepMilliseconds(waitMilliseconds);
    }
    const std::size_t count = ReadArrived(port, ReceiveBuffer,
                                          ReceiveCapacity - TerminalSession.ReceivedInChunk,
                                          waitMilliseconds);
    const unsigned long long now = MonotonicMilliseconds();
    // As a window's timer does not queue up ticks while the thread is busy (a probe), a long
    // gap between two looks counts as one tick period.
    unsigned long long since = now - TerminalSession.LastArrivalPollAt;
    since = since < PollIntervalMilliseconds ? since : PollIntervalMilliseconds;
    TerminalSession.LastArrivalPollAt = now;
    if (count > 0) {
        TakeReceived(count);
        TerminalSession.LastArrivalAt = now;
        TerminalSession.QuietMilliseconds = 0;
    }
    // A chunk ends as a tick's read ends it: when the line has been quiet for the read time-out.
    if (TerminalSession.ReceivedInChunk == ReceiveCapacity - 1 ||
        (count == 0 && now - TerminalSession.LastArrivalAt >= PortTimeoutMilliseconds)) {
        EndReceivedChunk();
    }
    if (PortDeviceGone(port)) {
        LosePort();
    } else if (count == 0 && TerminalSession.Uploading) {
        // The silence rule in tick periods, as the ticks count it.
        TerminalSession.QuietMilliseconds += since;
        for (; TerminalSession.QuietMilliseconds >= PollIntervalMilliseconds &&
               TerminalSession.Uploading;
             TerminalSession.QuietMilliseconds -= PollIntervalMilliseconds) {
            CountIdleTick();
        }
    }
    if (!FastUploadRunning()) {
        TerminalSession.LastArrivalPollAt = 0;
        TerminalSession.QuietMilliseconds = 0;
    }
    ReportLogFailure();
}

unsigned ArrivalWaitMilliseconds() {
    const unsigned long long now = MonotonicMilliseconds();
    unsigned wait = PollIntervalMilliseconds - TerminalSession.QuietMilliseconds;
    if (TerminalSession.ReceivedInChunk > 0) {
        const unsigned long long quiet = now - TerminalSession.LastArrivalAt;
        const unsigned chunkLeft =
            quiet >= PortTimeoutMilliseconds
                ? 0
                : static_cast<unsigned>(PortTimeoutMilliseconds - quiet);
        wait = chunkLeft < wait ? chunkLeft : wait;
    }
    return wait;
}
