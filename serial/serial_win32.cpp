// The serial link on Win32: the communications functions of KERNEL32, synchronous, with the
// time-outs doing the work of ending a read or a write.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "serial/serial_port.h"
#include "serial/serial_win32.h"

namespace {

HANDLE Win32Handle(SerialHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// The COM name the last successful open reached ("\\.\COM" and up to ten digits), which is
// how Windows finds the same device again once it is back.
char lastPort[24];
// The port whose last read found its device gone, or none.
SerialHandle goneHandle = InvalidPortHandle;
// When the last read that got anything took its first byte.
unsigned long long firstByteTakenAt = 0;

// After a USB adapter is removed, every call on its handle fails (ERROR_ACCESS_DENIED,
// ERROR_BAD_COMMAND, ERROR_DEVICE_REMOVED and their kin), while a silent line only lets
// ReadFile's time-out pass and a line error only fails the read; ClearCommError tells them
// apart, and clears the line error.
bool DeviceStillThere(HANDLE port) {
    DWORD errors = 0;
    return ClearCommError(port, &errors, nullptr) != FALSE;
}

// Room for "COM255: " and the longest reason, the system's own text included.
char failureReason[256];

// "Naming Files, Paths, and Namespaces", Win32 documentation: COM ports above 9 are reached
// only through the device namespace; the user knows the port by the name after it.
constexpr const char* DeviceNamespacePrefix = "\\\\.\\";

const char* ShownName(const char* name) {
    const std::size_t length = std::strlen(DeviceNamespacePrefix);
    return std::strncmp(name, DeviceNamespacePrefix, length) == 0 ? name + length : name;
}

void ExplainFailure(const char* name, PortOpenStep step, DWORD error) {
    const char* reason = DescribePortOpenFailure(step, error);
    char systemText[160] = "";
    if (reason == nullptr) {
        // The system's words, in the user's language; they end in a full stop and CR LF.
        DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, systemText, sizeof systemText, nullptr);
        while (length > 0 && std::strchr(" .\r\n", systemText[length - 1]) != nullptr) {
            --length;
        }
        systemText[length] = '\0';
        if (length == 0) {
            std::snprintf(systemText, sizeof systemText, "error %lu", error);
        }
        reason = systemText;
    }
    std::snprintf(failureReason, sizeof failureReason, "%s: %s\n", ShownName(name), reason);
}

// The time-outs and the line: raw 9600 8N1, no flow control of any kind; false, with the step
// that failed, when the device is no serial port or refuses the settings. Such a port would
// take bytes and never answer.
bool ConfigureLine(HANDLE port, PortOpenStep* failedStep) {
    // A total time-out with no interval limit: a one-byte ReadFile returns with the byte or,
    // after 50 ms of silence, with none; a WriteFile may take its bytes' time on the wire and
    // 50 ms more.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = PortTimeoutMilliseconds;
    timeouts.WriteTotalTimeoutMultiplier = PortWriteMillisecondsPerByte;
    timeouts.WriteTotalTimeoutConstant = PortTimeoutMilliseconds;
    // GetCommState wants DCBlength filled in; its answer also tells a serial port from other
    // devices.
    DCB control{};
    control.DCBlength = sizeof(DCB);
    *failedStep = PortOpenStep::SettingUp;
    if (!SetCommTimeouts(port, &timeouts) || !GetCommState(port, &control)) {
        return false;
    }
    control.BaudRate = PortBaudRate;
    control.ByteSize = 8;
    control.Parity = NOPARITY;
    control.StopBits = ONESTOPBIT;
    // "DCB structure", Win32 documentation. Windows keeps a port's block from one open to the
    // next, so whatever the last program set would stay: CTS, DSR or RTS handshaking (writes
    // stall), XON/XOFF (the driver swallows those bytes both ways), NUL stripping, an error
    // character, parity checking, and abort-on-error (one framing error and every read fails
    // until ClearCommError). DTR and RTS stay on, as a plain open leaves them.
    control.fBinary = TRUE;
    control.fParity = FALSE;
    control.fOutxCtsFlow = FALSE;
    control.fOutxDsrFlow = FALSE;
    control.fDtrControl = DTR_CONTROL_ENABLE;
    control.fDsrSensitivity = FALSE;
    control.fTXContinueOnXoff = TRUE;
    control.fOutX = FALSE;
    control.fInX = FALSE;
    control.fErrorChar = FALSE;
    control.fNull = FALSE;
    control.fRtsControl = RTS_CONTROL_ENABLE;
    control.fAbortOnError = FALSE;
    *failedStep = PortOpenStep::ApplyingLineSettings;
    if (!SetCommState(port, &control)) {
        return false;
    }
    // What reached the port before it was ours (an interrupted program's last answer) would be
    // taken for the answer to the first line.
    *failedStep = PortOpenStep::SettingUp;
    return PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR) != FALSE;
}

// "CreateFileA", Win32 documentation: a name that no device answers to fails with one of these.
bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Whether \\.\COMn can be had, or is held by another program: either way it is there.
bool OpensOrIsHeld(const char* name) {
    const HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return !IsMissing(GetLastError());
    }
    CloseHandle(port);
    return true;
}

} // namespace

const char* DescribePortOpenFailure(PortOpenStep step, unsigned long error) {
    switch (step) {
    case PortOpenStep::Opening:
        if (IsMissing(error)) {
            return "no such port; varnoth-upload --list-ports lists the ports present";
        }
        // Share mode 0 makes the open exclusive: a port another program has open is refused
        // with one of these.
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            return "in use by another program";
        }
        return nullptr;
    case PortOpenStep::SettingUp:
        return "not a serial port";
    case PortOpenStep::ApplyingLineSettings:
        return "the port refused the line settings (9600 baud, 8N1)";
    }
    return nullptr;
}

// Every number is worth an open: an absent COMn fails CreateFileA at once, and the open is the
// one test that also finds what wine links in its dosdevices folder, which it lists nowhere.
void FindPresentPorts(bool (&present)[HighestPortNumber + 1]) {
    for (int number = 1; number <= HighestPortNumber; ++number) {
        present[number] = true;
    }
}

// A COM port is a DOS device name for a device object ("\Device\Serial0", "\Device\USBSER000"):
// QueryDosDeviceA names it without opening the port, which would toggle DTR (resetting some
// boards) or, for a Bluetooth port, dial the remote device. Only the names it does not know are
// tried by opening, for wine's links.
int PrintPortTable() {
    bool listed = false;
    for (int number = 1; number <= HighestPortNumber; ++number) {
        char dosName[16];
        char path[24];
        std::snprintf(dosName, sizeof dosName, "COM%d", number);
        std::snprintf(path, sizeof path, "%s%s", DeviceNamespacePrefix, dosName);
        char device[MAX_PATH] = "-";
        if (QueryDosDeviceA(dosName, device, sizeof device) == 0 && !OpensOrIsHeld(path)) {
            continue;
        }
        if (!listed) {
            std::printf("port  name    device\n");
            listed = true;
        }
        std::printf("%4d  %-6s  %s\n", number, dosName, device);
    }
    if (!listed) {
        std::printf("No COM ports found: plug in an adapter. Device Manager shows the ports under "
                    "\"Ports (COM & LPT)\".\n");
    }
    return 0;
}

SerialHandle OpenPort(const char* name) {
    failureReason[0] = '\0';
    // "CreateFileA", Win32 documentation, Communications Resources: a COM port is opened
    // with OPEN_EXISTING and share mode 0, which makes the open exclusive.
    const HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        ExplainFailure(name, PortOpenStep::Opening, GetLastError());
        return InvalidPortHandle;
    }
    // Lets whatever a previous owner queued go out before the line settings change under it.
    // Its result is not looked at: the line is usable either way, and a device that is no
    // serial port fails the set-up that follows.
    FlushFileBuffers(port);
    PortOpenStep failedStep = PortOpenStep::SettingUp;
    if (!ConfigureLine(port, &failedStep)) {
        const DWORD error = GetLastError();
        CloseHandle(port);
        ExplainFailure(name, failedStep, error);
        return InvalidPortHandle;
    }
    goneHandle = InvalidPortHandle;
    std::snprintf(lastPort, sizeof lastPort, "%s", name);
    // INVALID_HANDLE_VALUE and InvalidPortHandle have the same bits; this handle is neither.
    return reinterpret_cast<SerialHandle>(port);
}

const char* OpenedDeviceName() {
    return "";
}

// The GUI program has no --list-ports: varnoth-upload's lists the ports for both.
void NamePortListCommand(const char*) {}

const char* PortOpenFailureReason() {
    return failureReason;
}

std::size_t WritePort(SerialHandle handle, const char* bytes, std::size_t count) {
    if (handle == InvalidPortHandle || count == 0) {
        return 0;
    }
    // Nothing sent is longer than an upload line of 1,023 bytes, so the count fits a DWORD.
    // A write that timed out has still sent what `written` says.
    DWORD written = 0;
    WriteFile(Win32Handle(handle), bytes, static_cast<DWORD>(count), &written, nullptr);
    return written;
}

std::size_t ReadPort(SerialHandle handle, char* buffer, std::size_t capacity,
                     unsigned budgetMilliseconds, bool* lineWentQuiet) {
    // One byte per call: the read time-out then measures the silence after the last byte,
    // which is what ends a chunk. GetTickCount wraps after 49 days; the unsigned difference
    // stays right across the wrap.
    const DWORD started = GetTickCount();
    std::size_t count = 0;
    bool outOfTime = false;
    bool gone = false;
    while (handle != InvalidPortHandle && count + 1 < capacity) {
        DWORD got = 0;
        const BOOL read = ReadFile(Win32Handle(handle), buffer + count, 1, &got, nullptr);
        if (!read || got != 1) {
            // A failed read may be only a line error (a framing error or an overrun, noise on
            // the line), which ClearCommError clears; the device is gone when it fails too.
            gone = !DeviceStillThere(Win32Handle(handle));
            break;
        }
        if (count == 0) {
            firstByteTakenAt = GetTickCount64();
        }
        ++count;
        if (GetTickCount() - started >= budgetMilliseconds) {
            outOfTime = true;
            break;
        }
    }
    if (capacity > 0) {
        buffer[count] = '\0';
    }
    goneHandle = gone ? handle : InvalidPortHandle;
    *lineWentQuiet = !outOfTime && count + 1 < capacity;
    return count;
}

// "COMMTIMEOUTS structure", Win32 documentation: with ReadIntervalTimeout and
// ReadTotalTimeoutMultiplier at MAXDWORD, a ReadFile returns at once with what is queued, or
// with the first bytes that arrive within ReadTotalTimeoutConstant; with the interval alone at
// MAXDWORD it returns at once, with what is queued or nothing. The port's own time-outs come
// back afterwards.
std::size_t ReadArrived(SerialHandle handle, char* buffer, std::size_t capacity,
                        unsigned waitMilliseconds) {
    DWORD got = 0;
    bool gone = false;
    if (handle != InvalidPortHandle && capacity > 1) {
        const HANDLE port = Win32Handle(handle);
        COMMTIMEOUTS usual{};
        GetCommTimeouts(port, &usual);
        COMMTIMEOUTS arriving{};
        arriving.ReadIntervalTimeout = MAXDWORD;
        arriving.ReadTotalTimeoutMultiplier = waitMilliseconds > 0 ? MAXDWORD : 0;
        arriving.ReadTotalTimeoutConstant = waitMilliseconds;
        arriving.WriteTotalTimeoutMultiplier = usual.WriteTotalTimeoutMultiplier;
        arriving.WriteTotalTimeoutConstant = usual.WriteTotalTimeoutConstant;
        // The buffer holds at most a chunk of 65,535 bytes, so its size fits a DWORD.
        const bool read = SetCommTimeouts(port, &arriving) &&
                          ReadFile(port, buffer, static_cast<DWORD>(capacity - 1), &got, nullptr);
        SetCommTimeouts(port, &usual);
        gone = !read && !DeviceStillThere(port);
    }
    if (capacity > 0) {
        buffer[got] = '\0';
    }
    if (got > 0) {
        firstByteTakenAt = GetTickCount64();
    }
    goneHandle = gone ? handle : InvalidPortHandle;
    return got;
}

unsigned long long FirstByteTakenAt() {
    return firstByteTakenAt;
}

bool PortDeviceGone(SerialHandle handle) {
    return handle != InvalidPortHandle && handle == goneHandle;
}

SerialHandle ReopenLastPort(std::int32_t* numberNow) {
    const SerialHandle handle = lastPort[0] != '\0' ? OpenPort(lastPort) : InvalidPortHandle;
    if (handle != InvalidPortHandle) {
        // The COM number is the device's for as long as Windows keeps it.
        *numberNow = std::atoi(ShownName(lastPort) + std::strlen("COM"));
    }
    return handle;
}

void ClosePort(SerialHandle handle) {
    CloseHandle(Win32Handle(handle));
}

unsigned long long MonotonicMilliseconds() {
    return GetTickCount64();
}

void SleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}
