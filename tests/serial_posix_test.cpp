// The POSIX serial link against pseudo-terminals, and the Linux port numbering against fake
// dev/ and sys/ trees.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <numeric>
#include <pthread.h>
#include <thread>
#include <tuple>
#include <utility>

#include "serial/serial_port.h"
#include "tests/simulated_device.h"

namespace {

using Clock = std::chrono::steady_clock;

// Shell functions that lay out a tty as sysfs and /dev show it. tty NAME [BY-ID [TYPE]]: with
// hardware, its persistent name and the serial core's port type; usb NAME; virtual NAME.
constexpr const char* TreeFunctions = R"(
tty() { mkdir -p sys/class/tty/$1/device; ln -s /dev/null dev/$1
        [ -z "$2" ] || ln -s ../../$1 dev/serial/by-id/$2; [ -z "$3" ] || echo $3 >sys/class/tty/$1/type; }
usb() { mkdir -p sys/devices/usb1/$1/device; ln -s ../../devices/usb1/$1 sys/class/tty/$1; ln -s /dev/null dev/$1; }
virtual() { mkdir sys/class/tty/$1; ln -s /dev/null dev/$1; }
mkdir -p dev/serial/by-id sys/class/tty
)";

const std::string AllByteValues = [] {
    std::string bytes(256, '\0');
    std::iota(bytes.begin(), bytes.end(), '\0');
    return bytes;
}();

class SerialPosixTest : public testing::Test {
  protected:
    void SetUp() override {
        port_ = OpenPort(pty_.SlavePath().c_str());
        ASSERT_NE(port_, InvalidPortHandle);
    }
    void TearDown() override { ClosePort(port_); }

    std::string Read(std::size_t capacity = 65536, unsigned budget = UnlimitedReadBudget) {
        std::string buffer(capacity, '\x7f');
        const std::size_t count = ReadPort(port_, &buffer[0], capacity, budget, &quiet_);
        EXPECT_EQ(buffer[count], '\0') << "a NUL follows the bytes read";
        return buffer.substr(0, count);
    }
    // Runs `script` in the ports directory, which is also the device root, after TreeFunctions.
    void Tree(const std::string& script) {
        const std::string command = "cd " + ports_.Path() + " && " + TreeFunctions + script;
        ASSERT_EQ(std::system(command.c_str()), 0) << script;
    }

    PortsDirectory ports_;
    PseudoTerminal pty_;
    SerialHandle port_ = InvalidPortHandle;
    bool quiet_ = false; // whether the last Read ended on silence
};

// The line settings themselves are held to on real drivers, where they mean something
// (tests/vm/run.sh); a pseudo-terminal shows whether every byte passes unchanged.
TEST_F(SerialPosixTest, EveryByteValuePassesUnchangedBothWays) {
    WritePort(port_, "not sent", 0);
    WritePort(port_, AllByteValues.data(), AllByteValues.size());
    EXPECT_EQ(pty_.Receive(AllByteValues.size()), AllByteValues);
    pty_.Send(AllByteValues);
    const std::string first = Read(129);
    EXPECT_FALSE(quiet_) << "a full buffer is no silence";
    EXPECT_EQ(first + Read(), AllByteValues) << "the chunk goes on in the next read";
    EXPECT_TRUE(quiet_);
}

TEST_F(SerialPosixTest, AReadEndsWhenItsTimeIsUpAndTheStreamGoesOnInTheNext) {
    // A byte every millisecond, as a device printing without pause at 9600 baud sends them.
    const std::string stream = AllByteValues + AllByteValues + AllByteValues;
    std::thread device([this, &stream] {
        for (char byte : stream) {
            pty_.Send(std::string(1, byte));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::string received;
    bool outOfTime = false;
    for (int i = 0; i < 1000 && received.size() < stream.size(); ++i) {
        const std::string more = Read(65536, 20);
        outOfTime = outOfTime || (!more.empty() && !quiet_);
        received += more;
    }
    device.join();
    EXPECT_TRUE(outOfTime) << "no read ran out of time while bytes kept coming";
    EXPECT_EQ(received, stream) << "nothing lost or reordered across reads";
}

// A write gets its bytes' time on the wire and 50 ms more: a device that is slow to take them
// (here, one that starts reading only after 200 ms) gets a whole line, where a flat 50 ms
// would cut it. One that stops reading gets what fits, and the write says how much that was.
TEST_F(SerialPosixTest, AWriteTakesItsTimeOnTheWireAndSaysHowMuchWentOut) {
    const std::string line(1023, 'w');
    // Until the line holds no more, also once the kernel has moved what it had to the other end.
    const auto fill = [this] {
        char filler[4096] = {};
        for (int round = 0; round < 3; ++round) {
            while (write(static_cast<int>(port_), filler, sizeof filler) > 0) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    };
    fill();
    std::atomic<bool> draining{true};
    std::thread device([this, &draining] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        char taken[4096];
        pollfd entry{pty_.Master(), POLLIN, 0};
        // Reads only what poll saw arrive: the master blocks, and a read of an empty one
        // would outlast the write it drains.
        while (draining) {
            if (poll(&entry, 1, 10) > 0 && read(pty_.Master(), taken, sizeof taken) < 0) {
                break;
            }
        }
    });
    EXPECT_EQ(WritePort(port_, line.data(), line.size()), line.size());
    draining = false;
    device.join();
    fill();
    const Clock::time_point start = Clock::now();
    EXPECT_LT(WritePort(port_, line.data(), line.size()), line.size());
    EXPECT_EQ(WritePort(port_, "not sent", 0), 0u);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20)) << "the stalled line gave up";
}

TEST_F(SerialPosixTest, ADeviceThatHangsUpNeverHoldsTheLink) {
    pty_.Send("last words");
    pty_.HangUp();
    Read(); // what arrived before the hang-up may or may not still be readable
    EXPECT_TRUE(PortDeviceGone(port_));
    // Reads and writes that waited for their time-out would take 100 s; the bound is generous.
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(Read(), "");
        EXPECT_EQ(WritePort(port_, "x", 1), 0u);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(25));
}

// The device side stays open, as the simulated device keeps it: what it sent before the open
// waits in the line, and must not be taken for an answer to what the terminal sends next.
TEST_F(SerialPosixTest, WhatArrivedBeforeTheOpenIsDropped) {
    ClosePort(port_);
    const int deviceSide = open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    pty_.Send("+stale");
    int queued = 0;
    for (int wait = 0; wait < 500 && queued < 6; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ioctl(deviceSide, FIONREAD, &queued);
    }
    port_ = OpenPort(pty_.SlavePath().c_str());
    close(deviceSide);
    EXPECT_EQ(queued, 6);
    EXPECT_EQ(Read(), "");
    pty_.Send("fresh");
    EXPECT_EQ(Read(), "fresh");
}

// Another reader of the same line can take the bytes between the link's wait and its read: an
// empty read then, or a signal during the wait, is no lost device and no longer wait.
TEST_F(SerialPosixTest, ARaceForTheBytesOrASignalIsNoLostDeviceAndNoLongerWait) {
    ClosePort(port_);
    const int rival = open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    port_ = OpenPort(pty_.SlavePath().c_str());
    std::atomic<bool> racing{true};
    std::thread thief([rival, &racing] {
        pollfd entry{rival, POLLIN, 0};
        char byte;
        while (racing) {
            if (poll(&entry, 1, 10) > 0 && read(rival, &byte, 1) < 0 && errno != EAGAIN) {
                break;
            }
        }
    });
    // A byte every millisecond, so that both readers are waiting when one comes and both wake.
    std::atomic<bool> sending{true};
    std::thread device([this, &sending] {
        while (sending) {
            pty_.Send("x");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int i = 0; i < 2000 && !PortDeviceGone(port_); ++i) {
        Read(2);
    }
    sending = false;
    device.join();
    racing = false;
    thief.join();
    close(rival);
    EXPECT_FALSE(PortDeviceGone(port_)) << "the rival's read taken for a lost device";

    // Signals every 5 ms would restart a 50 ms wait for ever, were it not counted down.
    struct sigaction wake {};
    wake.sa_handler = [](int) {};
    sigaction(SIGUSR1, &wake, nullptr);
    const pthread_t reader = pthread_self();
    std::atomic<bool> reading{true};
    std::thread signaller([reader, &reading] {
        for (int i = 0; i < 2000 && reading; ++i) {
            pthread_kill(reader, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Read(), "");
    const bool endedWhileSignalled = reading.exchange(false);
    signaller.join();
    EXPECT_TRUE(endedWhileSignalled) << "the read lasted as long as the signals came";
    EXPECT_FALSE(PortDeviceGone(port_));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST_F(SerialPosixTest, AFailedOpenSaysWhyAndAHeldPortOpensOnceClosed) {
    Tree("ln -s /nonexistent/device com3");
    // Each port, and why it failed to open.
    const std::pair<std::string, std::string> failures[] = {
        {pty_.SlavePath(), pty_.SlavePath() + ": in use by another program\n"}, // by the fixture
        {"/nonexistent/ttyUSB9", "/nonexistent/ttyUSB9: no such device\n"},
        {"\\\\.\\COM3", ports_.Entry(3) + ": no such device\n"},
        {"\\\\.\\COM7",
         "no serial device has this number; varnoth-terminal --list-ports lists them\n"},
        {"/dev/null", "/dev/null: not a serial port\n"}, // it cannot be configured
    };
    for (const auto& [name, reason] : failures) {
        EXPECT_EQ(OpenPort(name.c_str()), InvalidPortHandle) << name;
        EXPECT_EQ(PortOpenFailureReason(), reason);
    }
    // Programs that take no lock are kept out by the flag (all but root's, hence it is asked).
    EXPECT_TRUE(ExclusiveFlagSet(pty_.SlavePath()));
    ClosePort(port_);
    EXPECT_FALSE(ExclusiveFlagSet(pty_.SlavePath()));
    port_ = OpenPort(pty_.SlavePath().c_str());
    EXPECT_NE(port_, InvalidPortHandle) << "a closed port opens again";
}

TEST_F(SerialPosixTest, DevicesAreNumberedPersistentNamesFirstThenUsbThenOnBoardAtEveryOpen) {
    std::string manyOnUsb, manyListed;
    for (int index = 0; index < 30; ++index) {
        manyOnUsb += "usb ttyUSB" + std::to_string(index) + ";";
        manyListed +=
            std::to_string(index < 24 ? index + 1 : 0) + " ttyUSB" + std::to_string(index) + "\n";
    }
    // A tree, and the port table as a row a line: the number (0 for none) and the device's name.
    const std::tuple<const char*, std::string, std::string> trees[] = {
        // By-id names order adapters. ttyS1 and ttyS3 are 8250 ports without a chip: its type
        // unknown, or unknown to TIOCGSERIAL. Entries take their numbers and shift no others.
        {"mixed",
         "tty ttyUSB0 usb-Arduino_A; tty ttyACM1 usb-FTDI_B; usb ttyUSB7; tty ttyAMA0;"
         "tty ttyS10 '' 4; tty ttyS2 '' 4; tty ttyS1 '' 0; tty ttyS3; virtual tty5;"
         "ln -s /dev/ttyACM9 com2; ln -s /nonexistent/gone com3",
         "1 ttyUSB0\n2 ttyACM9 entry\n3 gone entry\n4 ttyAMA0\n5 ttyS2\n6 ttyS10\n0 ttyACM1\n"
         "0 ttyUSB7\n"},
        {"more than 24", manyOnUsb, manyListed},
        {"adapter plugged in", "tty ttyS0 '' 4; tty ttyUSB0 usb-A", "1 ttyUSB0\n2 ttyS0\n"},
    };
    for (const auto& [name, tree, expected] : trees) {
        SCOPED_TRACE(name);
        Tree("rm -rf dev sys com*");
        Tree(tree);
        std::string listing;
        for (const PortListEntry& row : ListPorts(24)) {
            listing += std::to_string(row.number) + " " +
                       row.device.substr(row.device.rfind('/') + 1) +
                       (row.fromPortsDirectory ? " entry\n" : "\n");
            if (row.number > 0) { // what "open n" reaches is what the table shows
                char path[256] = "";
                const std::string port = "\\\\.\\COM" + std::to_string(row.number);
                ResolvePortDevice(port.c_str(), path, sizeof path);
                EXPECT_EQ(path, row.fromPortsDirectory ? ports_.Entry(row.number) : row.device);
            }
        }
        EXPECT_EQ(listing, expected);
    }
}

} // namespace
