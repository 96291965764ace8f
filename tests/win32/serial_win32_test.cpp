// The Win32 serial link against the simulated device that tools/run-windows-tests.sh puts
// behind the port named by VARNOTH_ECHO_PORT: it sends back every byte and answers nothing;
// and the reasons for a failed open, with a file linked as the port VARNOTH_FILE_PORT.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "serial/serial_win32.h"

namespace {

// Under wine a pseudo-terminal plays the line, always with 8 bits and no parity, so of 8N1 at
// 9600 baud only the speed and the stop bits show, and of flow control what termios has:
// tools/run-windows-tests.sh leaves the line with CTS/RTS and XON/XOFF flow control on, as
// another program might, and wine reads them back from termios. A read ends after 50 ms of
// silence, not at the first gap; a write may take its bytes' time on the wire.
TEST(SerialWin32Test, TheLinkIsSetForTheDeviceAndPassesEveryByteBothWays) {
    const char* name = std::getenv("VARNOTH_ECHO_PORT");
    ASSERT_NE(name, nullptr) << "VARNOTH_ECHO_PORT names no port with an echoing device";
    SerialHandle port = OpenPort(name);
    ASSERT_NE(port, InvalidPortHandle) << name;
    DCB line{};
    line.DCBlength = sizeof line;
    GetCommState(reinterpret_cast<HANDLE>(port), &line);
    EXPECT_EQ(
        std::vector<DWORD>({line.BaudRate, line.StopBits, line.fOutxCtsFlow, line.fRtsControl,
                            line.fOutX, line.fInX}),
        std::vector<DWORD>({PortBaudRate, ONESTOPBIT, FALSE, RTS_CONTROL_ENABLE, FALSE, FALSE}))
        << "the speed, the stop bits, and no flow control";
    COMMTIMEOUTS t{};
    GetCommTimeouts(reinterpret_cast<HANDLE>(port), &t);
    EXPECT_EQ(std::vector<DWORD>({t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                                  t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                                  t.WriteTotalTimeoutConstant}),
              std::vector<DWORD>({0, 0, PortTimeoutMilliseconds, PortWriteMillisecondsPerByte,
                                  PortTimeoutMilliseconds}));

    // The echo of what was sent before the port was closed waits in the line: the next open
    // drops it.
    EXPECT_EQ(WritePort(port, "stale", 5), 5u);
    Sleep(200);
    ClosePort(port);
    port = OpenPort(name);
    ASSERT_NE(port, InvalidPortHandle) << name;
    char stale[16] = "";
    bool quiet = false;
    EXPECT_EQ(ReadPort(port, stale, sizeof stale, UnlimitedReadBudget, &quiet), 0u) << stale;

    // Read back in chunks smaller than what was sent: each stops at its capacity and ends in a
    // NUL, which the device probe's string search needs, and the rest comes with the next.
    std::string all(256, '\0'), received;
    std::iota(all.begin(), all.end(), '\0');
    EXPECT_EQ(WritePort(port, "nothing", 0), 0u);
    EXPECT_EQ(WritePort(port, all.data(), all.size()), all.size());
    for (const ULONGLONG end = GetTickCount64() + 20000;
         received.size() < all.size() && GetTickCount64() < end;) {
        std::string chunk(16, '\x7F');
        const auto got = ReadPort(port, &chunk[0], chunk.size(), UnlimitedReadBudget, &quiet);
        ASSERT_TRUE(got < chunk.size() && chunk[got] == '\0') << got << " bytes, no NUL after";
        received.append(chunk, 0, got);
    }
    EXPECT_EQ(received, all) << "no line-end translation, no flow-control bytes taken, NUL kept, "
                                "and a write of nothing sends nothing";
    ClosePort(port);
}

// A file stands for a device that is no serial port and, held open, for a port another program
// holds: wine refuses a second exclusive open of a file, though not of a tty. What wine cannot
// bring about, Windows' refusal of a held port and a driver refusing 9600 8N1, is checked on
// the mapping alone.
TEST(SerialWin32Test, AFailedOpenSaysWhyAndLeavesNothingOpen) {
    const char* file = std::getenv("VARNOTH_FILE_PORT");
    ASSERT_NE(file, nullptr) << "VARNOTH_FILE_PORT names a port linked to a file";
    const std::string shown = std::string(file).substr(std::strlen("\\\\.\\"));
    EXPECT_EQ(OpenPort(file), InvalidPortHandle);
    EXPECT_EQ(PortOpenFailureReason(), shown + ": not a serial port\n");
    const HANDLE holder = CreateFileA(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE) << "the open that failed kept the port";
    EXPECT_EQ(OpenPort(file), InvalidPortHandle);
    EXPECT_EQ(PortOpenFailureReason(), shown + ": in use by another program\n");
    CloseHandle(holder);
    EXPECT_EQ(OpenPort("\\\\.\\COM24"), InvalidPortHandle);
    EXPECT_STREQ(PortOpenFailureReason(),
                 "COM24: no such port; varnoth-upload --list-ports lists the ports present\n");
    EXPECT_STREQ(DescribePortOpenFailure(PortOpenStep::Opening, ERROR_ACCESS_DENIED),
                 "in use by another program");
    EXPECT_STREQ(DescribePortOpenFailure(PortOpenStep::ApplyingLineSettings, ERROR_GEN_FAILURE),
                 "the port refused the line settings (9600 baud, 8N1)");
}

} // namespace
