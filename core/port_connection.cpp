#include "core/port_connection.h"

#include <cstdio>
#include <cstring>

#include "core/pane.h"
#include "core/session_log.h"
#include "core/terminal_session.h"
#include "core/upload.h"

namespace {

// Win32 reaches COM ports above 9 only through the device namespace, so every port is named
// that way; other platforms map these names to their own devices.
constexpr const char* PortNamePrefix = "\\\\.\\COM";
// The prefix, a sign, ten digits and a NUL.
constexpr std::size_t PortNameCapacity = 24;

// The device is given this long to answer the identification request.
constexpr unsigned ProbeWaitMilliseconds = 500;
constexpr const char* ProbeRequest = "id\n";
// The reply is read into this many bytes: at most 255 and a NUL.
constexpr std::size_t ProbeReplyCapacity = 256;
// A lost device is looked for once a second: often enough to be back as soon as it is, rarely
// enough to cost nothing while it is away.
constexpr std::int32_t TicksBetweenLooksForPort = 10;
// A report with a port number (room for any 32-bit one) and an upload's line number.
constexpr std::size_t ReportCapacity = 96;

// Our device names itself with this; its prompt character also identifies it.
constexpr const char* DeviceIdentity = "TELK7";
constexpr const char* DevicePrompt = ">";

bool IsBlank(char byte) {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

void MakePortName(std::int32_t number, char* name) {
    std::snprintf(name, PortNameCapacity, "%s%ld", PortNamePrefix, static_cast<long>(number));
}

void ReportFailure(const char* argument) {
    AppendOutput("failed to connect to port");
    AppendOutput(argument);
    AppendOutput("\n");
}

// Keeps the first port whose device answers the probe; closes every other one it opens.
// Only numbers that may reach a port are opened, and only a port that opens is probed.
int DetectPort(const char* argument) {
    bool present[PortNumberLimit] = {};
    FindPresentPorts(present);
    // Detection starts at "\\.\COM0", the number it is asked with: Windows gives no port that
    // number, but on Linux a ports-folder entry com0 can name one.
    present[DetectPortNumber] = true;
    char name[PortNameCapacity];
    for (std::int32_t number = DetectPortNumber; number < PortNumberLimit; ++number) {
        if (!present[number]) {
            continue;
        }
        MakePortName(number, name);
        TerminalSession.PortHandle = OpenPort(name);
        if (TerminalSession.PortHandle == InvalidPortHandle) {
            continue;
        }
        if (ProbePort()) {
            TerminalSession.PortNumber = number;
            return ResultSuccess;
        }
        ClosePort(TerminalSession.PortHandle);
        TerminalSession.PortHandle = InvalidPortHandle;
    }
    ReportFailure(argument);
    return ResultFailure;
}

} // namespace

std::int32_t ParsePortNumber(const char* text) {
    while (IsBlank(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-') {
        ++text;
    }
    // Unsigned arithmetic wraps as the port number is defined to; signed overflow would not.
    std::uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10u + static_cast<std::uint32_t>(*text - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    // Two's complement reading of the wrapped value, without implementation-defined casts.
    return value <= 0x7FFFFFFFu ? static_cast<std::int32_t>(value)
                                : -static_cast<std::int32_t>(~value) - 1;
}

bool ProbePort() {
    const std::size_t sent =
        WritePort(TerminalSession.PortHandle, ProbeRequest, std::strlen(ProbeRequest));
    LogBytes(LogSource::Sent, ProbeRequest, sent, MonotonicMilliseconds());
    SleepMilliseconds(ProbeWaitMilliseconds);
    char reply[ProbeReplyCapacity];
    // The reply is read to its end, however long the device takes over it: it is at most
    // ProbeReplyCapacity - 1 bytes.
    bool lineWentQuiet = true;
    ReadPort(TerminalSession.PortHandle, reply, ProbeReplyCapacity, UnlimitedReadBudget,
             &lineWentQuiet);
    return std::strstr(reply, DeviceIdentity) != nullptr ||
           std::strstr(reply, DevicePrompt) != nullptr;
}

int ConnectPort(const char* argument) {
    if (argument[0] == '\0') {
        AppendOutput("use: open n to connect\n");
        return ResultFailure;
    }
    const std::int32_t number = ParsePortNumber(argument);
    if (number >= PortNumberLimit) {
        return ResultFailure;
    }
    if (number == DetectPortNumber) {
        return DetectPort(argument);
    }
    char name[PortNameCapacity];
    MakePortName(number, name);
    TerminalSession.PortHandle = OpenPort(name);
    if (TerminalSession.PortHandle == InvalidPortHandle) {
        ReportFailure(argument);
        // The platform's reason, when it gives one, is what tells the user what to do.
        const char* reason = PortOpenFailureReason();
        if (reason[0] != '\0') {
            AppendOutput(reason);
        }
        return ResultFailure;
    }
    TerminalSession.PortNumber = number;
    AppendOutput("connected to port");
    AppendOutput(argument);
    AppendOutput("\n");
    return ResultSuccess;
}

void ClosePortIfOpen() {
    if (TerminalSession.PortHandle != InvalidPortHandle) {
        ClosePort(TerminalSession.PortHandle);
        TerminalSession.PortHandle = InvalidPortHandle;
    }
}

void LosePort() {
    EndReceivedChunk();
    ClosePortIfOpen();
    char report[ReportCapacity];
    const long number = TerminalSession.PortNumber;
    if (TerminalSession.Uploading) {
        AbandonUpload();
        std::snprintf(report, sizeof report,
                      "port %ld lost: the device went away; the upload stopped at line %ld\n",
                      number, static_cast<long>(TerminalSession.UploadLineNumber));
    } else {
        std::snprintf(report, sizeof report, "port %ld lost: the device went away\n", number);
    }
    AppendReport(report);
    TerminalSession.WaitingForLostPort = true;
    TerminalSession.TicksUntilLookingForPort = TicksBetweenLooksForPort;
}

void LookForLostPort() {
    if (--TerminalSession.TicksUntilLookingForPort > 0) {
        return;
    }
    TerminalSession.TicksUntilLookingForPort = TicksBetweenLooksForPort;
    std::int32_t number = 0;
    const SerialHandle port = ReopenLastPort(&number);
    if (port == InvalidPortHandle) {
        return;
    }
    TerminalSession.PortHandle = port;
    TerminalSession.PortNumber = number;
    TerminalSession.WaitingForLostPort = false;
    char report[ReportCapacity];
    std::snprintf(report, sizeof report, "reconnected to port %ld\n", static_cast<long>(number));
    AppendReport(report);
}
