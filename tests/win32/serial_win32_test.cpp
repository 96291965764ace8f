// The Win32 serial link against a real serial device. tools/run-windows-tests.sh puts the
// simulated device, echoing every byte and answering nothing, behind the port named by
// VARNOTH_ECHO_PORT; without it the tests that need a device are skipped.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "serial/serial_port.h"

namespace {

// How long to wait for an echo before a test fails: generous, it only bounds a failure.
constexpr ULONGLONG EchoDeadlineMilliseconds = 20000;

TEST(SerialWin32Test, AMissingPortIsNoPort) {
    EXPECT_EQ(OpenPort("\\\\.\\COM24"), InvalidPortHandle);
    EXPECT_EQ(OpenPort("\\\\.\\COM-1"), InvalidPortHandle);
}

TEST(SerialWin32Test, WithoutAPortNothingIsReadOrWritten) {
    char buffer[16];
    buffer[0] = 'x';
    bool quiet = false;
    EXPECT_EQ(ReadPort(InvalidPortHandle, buffer, sizeof buffer, 100, &quiet), 0u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(WritePort(InvalidPortHandle, "abc", 3), 0);
}

class EchoPortTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* name = std::getenv("VARNOTH_ECHO_PORT");
        if (name == nullptr) {
            GTEST_SKIP() << "VARNOTH_ECHO_PORT names no port with an echoing device";
        }
        name_ = name;
        port_ = OpenPort(name);
        ASSERT_NE(port_, InvalidPortHandle) << name;
    }
    void TearDown() override {
        if (port_ != InvalidPortHandle) {
            ClosePort(port_);
        }
    }

    // Reads chunks with the given capacity until `count` bytes came back. Every chunk must
    // fit the capacity and be NUL-terminated.
    std::string ReadBack(std::size_t count, std::size_t capacity) {
        std::string received;
        std::string buffer(capacity, '\x7F');
        const ULONGLONG end = GetTickCount64() + EchoDeadlineMilliseconds;
        while (received.size() < count && GetTickCount64() < end) {
            bool quiet = false;
            const std::size_t got =
                ReadPort(port_, &buffer[0], capacity, UnlimitedReadBudget, &quiet);
            EXPECT_LT(got, capacity);
            EXPECT_EQ(buffer[got], '\0');
            received.append(buffer, 0, got);
        }
        return received;
    }

    std::string name_;
    SerialHandle port_ = InvalidPortHandle;
};

TEST_F(EchoPortTest, EveryByteValuePassesUnchangedBothWays) {
    std::string all;
    for (int value = 0; value < 256; ++value) {
        all += static_cast<char>(value);
    }
    WritePort(port_, all.data(), all.size());
    EXPECT_EQ(ReadBack(all.size(), 1024), all)
        << "no line-end translation, no flow-control bytes taken, NUL kept";
}

TEST_F(EchoPortTest, AChunkStopsAtTheCapacityAndTheRestComesNext) {
    const std::string sent = "0123456789";
    WritePort(port_, sent.data(), sent.size());
    EXPECT_EQ(ReadBack(sent.size(), 4), sent);
}

TEST_F(EchoPortTest, AWriteOfNothingSendsNothing) {
    WritePort(port_, "ignored", 0);
    WritePort(port_, "z", 1);
    EXPECT_EQ(ReadBack(1, 16), "z");
}

TEST_F(EchoPortTest, AClosedPortOpensAgain) {
    ClosePort(port_);
    port_ = OpenPort(name_.c_str());
    ASSERT_NE(port_, InvalidPortHandle);
    WritePort(port_, "again", 5);
    EXPECT_EQ(ReadBack(5, 16), "again");
}

} // namespace
