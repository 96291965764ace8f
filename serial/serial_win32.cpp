// The serial link on Win32: the communications functions of KERNEL32, synchronous, with the
// time-outs doing the work of ending a read or a write.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "serial/serial_port.h"

namespace {

// The COM name the last successful open reached ("\\.\COM" and up to ten digits), which is
// how Windows finds the same device again once it is back.
char lastPort[24];
// The port whose last read found its device gone, or none.
SerialHandle goneHandle = InvalidPortHandle;

HANDLE Win32Handle(SerialHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// After a USB adapter is removed, every call on its handle fails (ERROR_ACCESS_DENIED,
// ERROR_BAD_COMMAND, ERROR_DEVICE_REMOVED and their kin), while a silent line only lets
// ReadFile's time-out pass; ClearCommError tells the two apart when the read said nothing.
bool DeviceStillThere(HANDLE port) {
    DWORD errors = 0;
    return ClearCommError(port, &errors, nullptr) != FALSE;
}

} // namespace

SerialHandle OpenPort(const char* name) {
    // "CreateFileA", Win32 documentation, Communications Resources: a COM port is opened
    // with OPEN_EXISTING and share mode 0. The latter makes the open exclusive, so a port
    // another program holds fails (ERROR_ACCESS_DENIED) just like a missing one.
    const HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    // Lets whatever a previous owner queued go out before the line settings change under it.
    FlushFileBuffers(port);
    // A constant-only total time-out with no interval limit: a one-byte ReadFile returns with
    // the byte or, after 50 ms of silence, with none; a WriteFile gives up after 50 ms.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = PortTimeoutMilliseconds;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = PortTimeoutMilliseconds;
    SetCommTimeouts(port, &timeouts);
    // Only the four line fields are ours; flow control and the rest stay as the driver has
    // them, so the block is read first. GetCommState wants DCBlength filled in.
    DCB control{};
    control.DCBlength = sizeof(DCB);
    GetCommState(port, &control);
    control.BaudRate = PortBaudRate;
    control.ByteSize = 8;
    control.Parity = NOPARITY;
    control.StopBits = ONESTOPBIT;
    SetCommState(port, &control);
    if (port != INVALID_HANDLE_VALUE) {
        goneHandle = InvalidPortHandle;
        lstrcpynA(lastPort, name, sizeof lastPort);
    }
    // INVALID_HANDLE_VALUE and InvalidPortHandle have the same bits, so a failed open
    // needs no translation.
    return reinterpret_cast<SerialHandle>(port);
}

// The Windows program reports a failed open as it always has, without a reason.
const char* PortOpenFailureReason() {
    return "";
}

int WritePort(SerialHandle handle, const char* bytes, std::size_t count) {
    // Nothing sent is longer than an upload line of 1,023 bytes, so the count fits a DWORD.
    DWORD written = 0;
    WriteFile(Win32Handle(handle), bytes, static_cast<DWORD>(count), &written, nullptr);
    return 0;
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
            gone = !read || !DeviceStillThere(Win32Handle(handle));
            break;
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

bool PortDeviceGone(SerialHandle handle) {
    return handle != InvalidPortHandle && handle == goneHandle;
}

SerialHandle ReopenLastPort(std::int32_t /*highestNumber*/, std::int32_t* numberNow) {
    const SerialHandle handle = lastPort[0] != '\0' ? OpenPort(lastPort) : InvalidPortHandle;
    if (handle != InvalidPortHandle) {
        // The COM number is the device's for as long as Windows keeps it.
        *numberNow = std::atoi(lastPort + std::strlen("\\\\.\\COM"));
    }
    return handle;
}

void ClosePort(SerialHandle handle) {
    CloseHandle(Win32Handle(handle));
}

void SleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}
