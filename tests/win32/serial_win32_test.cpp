// The Win32 serial link against the simulated device that tools/run-windows-tests.sh puts
// behind the port named by VARNOTH_ECHO_PORT: it sends back every byte and answers nothing.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace {

// Under wine a pseudo-terminal plays the line, always with 8 bits and no parity, so of 8N1 at
// 9600 baud only the speed and the stop bits show. A read ends after 50 ms of silence, not at
// the first gap.
TEST(SerialWin32Test, TheLinkIsSetForTheDeviceAndPassesEveryByteBothWays) {
    EXPECT_EQ(OpenPort("\\\\.\\COM24"), InvalidPortHandle) << "no device is COM24";
    const char* name = std::getenv("VARNOTH_ECHO_PORT");
    ASSERT_NE(name, nullptr) << "VARNOTH_ECHO_PORT names no port with an echoing device";
    const SerialHandle port = OpenPort(name);
    ASSERT_NE(port, InvalidPortHandle) << name;
    DCB line{};
    line.DCBlength = sizeof line;
    GetCommState(reinterpret_cast<HANDLE>(port), &line);
    EXPECT_EQ(std::vector<DWORD>({line.BaudRate, line.StopBits}),
              std::vector<DWORD>({PortBaudRate, ONESTOPBIT}));
    COMMTIMEOUTS t{};
    GetCommTimeouts(reinterpret_cast<HANDLE>(port), &t);
    EXPECT_EQ(std::vector<DWORD>({t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                                  t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                                  t.WriteTotalTimeoutConstant}),
              std::vector<DWORD>({0, 0, PortTimeoutMilliseconds, 0, PortTimeoutMilliseconds}));

    // Read back in chunks smaller than what was sent: each stops at its capacity and ends in a
    // NUL, which the device probe's string search needs, and the rest comes with the next.
    std::string all(256, '\0'), received;
    std::iota(all.begin(), all.end(), '\0');
    WritePort(port, "nothing", 0);
    WritePort(port, all.data(), all.size());
    for (const ULONGLONG end = GetTickCount64() + 20000;
         received.size() < all.size() && GetTickCount64() < end;) {
        std::string chunk(16, '\x7F');
        bool quiet = false;
        const auto got = ReadPort(port, &chunk[0], chunk.size(), UnlimitedReadBudget, &quiet);
        ASSERT_TRUE(got < chunk.size() && chunk[got] == '\0') << got << " bytes, no NUL after";
        received.append(chunk, 0, got);
    }
    EXPECT_EQ(received, all) << "no line-end translation, no flow-control bytes taken, NUL kept, "
                                "and a write of nothing sends nothing";
    ClosePort(port);
}

} // namespace
