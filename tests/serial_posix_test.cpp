#include <gtest/gtest.h>

#include <sys/stat.h>
#include <termios.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "serial/port_names_posix.h"
#include "serial/serial_port.h"
#include "tests/pseudo_terminal.h"

namespace {

using Clock = std::chrono::steady_clock;

class SerialPosixTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.Ready());
        port_ = OpenPort(pty_.SlavePath().c_str());
        ASSERT_NE(port_, InvalidPortHandle);
    }
    void TearDown() override {
        if (port_ != InvalidPortHandle) {
            ClosePort(port_);
        }
    }

    std::string Read(std::size_t capacity = 65536, unsigned budget = UnlimitedReadBudget) {
        std::string buffer(capacity, '\x7f');
        const std::size_t count = ReadPort(port_, &buffer[0], capacity, budget, &quiet_);
        EXPECT_EQ(buffer[count], '\0') << "a NUL follows the bytes read";
        return buffer.substr(0, count);
    }

    PseudoTerminal pty_;
    SerialHandle port_ = InvalidPortHandle;
    bool quiet_ = false; // whether the last Read ended on silence
};

std::string AllByteValues() {
    std::string bytes;
    for (int value = 0; value < 256; ++value) {
        bytes += static_cast<char>(value);
    }
    return bytes;
}

TEST_F(SerialPosixTest, TheOtherSideSeesRaw9600EightNoneOne) {
    termios settings{};
    ASSERT_EQ(tcgetattr(pty_.Master(), &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&settings), static_cast<speed_t>(B9600));
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
}

TEST_F(SerialPosixTest, EveryByteValuePassesUnchangedBothWays) {
    const std::string bytes = AllByteValues();
    EXPECT_EQ(WritePort(port_, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(pty_.Receive(bytes.size()), bytes);

    pty_.Send(bytes);
    EXPECT_EQ(Read(), bytes);
}

TEST_F(SerialPosixTest, AContinuousStreamIsCutAtCapacityLessOne) {
    pty_.Send(std::string(40, 'x'));
    EXPECT_EQ(Read(16), std::string(15, 'x'));
    EXPECT_FALSE(quiet_) << "a full buffer is no silence";
    EXPECT_EQ(Read(16), std::string(15, 'x'));
    EXPECT_EQ(Read(16), std::string(10, 'x'));
    EXPECT_TRUE(quiet_);
    EXPECT_EQ(Read(16), "");
    EXPECT_TRUE(quiet_);
}

TEST_F(SerialPosixTest, AReadEndsWhenItsTimeIsUpAndTheStreamGoesOnInTheNext) {
    // A byte every millisecond for far longer than the budget, as a device printing without
    // pause at 9600 baud does.
    const std::string stream = AllByteValues() + AllByteValues() + AllByteValues();
    std::thread device([this, &stream] {
        for (char byte : stream) {
            pty_.Send(std::string(1, byte));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::string received = Read(65536, 20);
    for (int i = 0; i < 100 && received.empty(); ++i) {
        received = Read(65536, 20);
    }
    const bool firstReadWentQuiet = quiet_;
    while (received.size() < stream.size()) {
        const std::string more = Read(65536, 20);
        received += more;
        if (more.empty()) {
            break; // the writer stalled; what it sends later is read after it ends
        }
    }
    device.join();
    received += Read();
    EXPECT_FALSE(firstReadWentQuiet) << "the first read ran out of time, not out of bytes";
    EXPECT_EQ(received, stream) << "nothing lost or reordered across reads";
    EXPECT_TRUE(quiet_);
}

TEST_F(SerialPosixTest, APauseLongerThanTheTimeOutSplitsAChunk) {
    // The pause is four times the time-out, so a slow machine still sees two chunks.
    std::thread device([this] {
        pty_.Send("first");
        std::this_thread::sleep_for(std::chrono::milliseconds(4 * PortTimeoutMilliseconds));
        pty_.Send("second");
    });
    std::string first = Read();
    // A scheduler hiccup may delay the first bytes themselves; wait for them, not for time.
    for (int i = 0; i < 100 && first.empty(); ++i) {
        first = Read();
    }
    device.join();
    EXPECT_EQ(first, "first");
    EXPECT_EQ(Read(), "second");
}

TEST_F(SerialPosixTest, ASecondOpenOfABusyPortFailsUntilItIsClosed) {
    EXPECT_EQ(OpenPort(pty_.SlavePath().c_str()), InvalidPortHandle);
    ClosePort(port_);
    port_ = OpenPort(pty_.SlavePath().c_str());
    EXPECT_NE(port_, InvalidPortHandle);
}

TEST_F(SerialPosixTest, AHungUpPortEndsEveryReadAndWriteAtOnce) {
    pty_.Send("last words");
    pty_.HangUp();
    // What arrived before the hang-up may or may not still be readable; nothing more comes.
    const std::string tail = Read();
    EXPECT_TRUE(tail.empty() || tail == "last words") << tail;
    // A read that waited for its time-out would take 50 s for these; the bound is generous.
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(Read(), "");
        WritePort(port_, "x", 1);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(25));
}

TEST_F(SerialPosixTest, AWriteTheDeviceDoesNotTakeIsDroppedRatherThanBlocking) {
    // The device never reads: the pty's buffers fill and the rest must be given up.
    const std::string megabyte(1 << 20, 'w');
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(WritePort(port_, megabyte.data(), megabyte.size()), 0);
    EXPECT_EQ(WritePort(port_, megabyte.data(), megabyte.size()), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_LT(pty_.Receive(megabyte.size()).size(), megabyte.size());
}

TEST(SerialPosixWithoutPortTest, NoPortReadsNothingAndWritesNothing) {
    char buffer[8] = "garbage";
    bool quiet = false;
    EXPECT_EQ(ReadPort(InvalidPortHandle, buffer, sizeof buffer, 100, &quiet), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_TRUE(quiet);
    EXPECT_EQ(WritePort(InvalidPortHandle, "abc", 3), 0);
}

TEST_F(SerialPosixTest, AFailedOpenSaysWhy) {
    const struct {
        std::string name;
        std::string reason;
    } failures[] = {
        // The fixture holds the port, so another open finds it locked.
        {pty_.SlavePath(), pty_.SlavePath() + ": in use by another program\n"},
        {"/nonexistent/ttyUSB9", "/nonexistent/ttyUSB9: no such device\n"},
        // A file that is no terminal cannot be configured, so it is no port either.
        {"/dev/null", "/dev/null: not a serial port\n"},
    };
    for (const auto& failure : failures) {
        EXPECT_EQ(OpenPort(failure.name.c_str()), InvalidPortHandle) << failure.name;
        EXPECT_EQ(PortOpenFailureReason(), failure.reason);
    }
}

TEST_F(SerialPosixTest, AZeroLengthWriteSendsNothing) {
    EXPECT_EQ(WritePort(port_, "abc", 0), 0);
    EXPECT_EQ(pty_.Receive(1), "");
}

// A throwaway folder that is the ports directory and, with its dev/ and sys/, the machine's
// devices as the port numbering sees them.
class PortNamesTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/varnoth_ports_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = pattern;
        Shell("mkdir -p dev/serial/by-id sys/class/tty sys/devices/usb1");
        setenv(PortsDirectoryVariable, directory_.c_str(), 1);
        setenv(DeviceRootVariable, directory_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv(PortsDirectoryVariable);
        unsetenv(DeviceRootVariable);
        std::system(("rm -rf " + directory_).c_str());
    }
    void Shell(const std::string& command) {
        ASSERT_EQ(std::system(("cd " + directory_ + " && " + command).c_str()), 0) << command;
    }
    std::string Resolve(const char* name) {
        char path[256];
        return ResolvePortDevice(name, path, sizeof path) ? path : "<none>";
    }
    std::string Resolve(int number) {
        return Resolve(("\\\\.\\COM" + std::to_string(number)).c_str());
    }
    void Link(const std::string& link, const std::string& target) {
        ASSERT_EQ(symlink(target.c_str(), (directory_ + "/" + link).c_str()), 0);
    }

    // A tty as sysfs and /dev show it: `byId` its persistent name, `type` the serial core's
    // port type attribute ("" for none), `node` what its /dev entry stands for.
    enum Kind { WithHardware, OnUsb, Virtual };
    void Add(const std::string& name, const std::string& byId = "", const std::string& type = "",
             Kind kind = WithHardware, const std::string& node = "/dev/null") {
        const std::string entry = "sys/class/tty/" + name;
        Shell(kind == OnUsb ? "mkdir sys/devices/usb1/" + name + " && ln -s ../../devices/usb1/" +
                                  name + " " + entry
                            : "mkdir " + entry);
        Shell("ln -s " + node + " dev/" + name);
        if (kind != Virtual) {
            Shell("mkdir " + entry + "/device");
        }
        if (!type.empty()) {
            Shell("echo " + type + " >" + entry + "/type");
        }
        if (!byId.empty()) {
            Shell("ln -s ../../" + name + " dev/serial/by-id/" + byId);
        }
    }
    std::string Device(const std::string& name) const { return directory_ + "/dev/" + name; }

    std::string directory_;
};

TEST_F(PortNamesTest, LinksInThePortsDirectoryNameTheDevices) {
    Link("com7", "/dev/ttyUSB0");
    Link("com0", "/dev/ttyACM3");
    Link("com3", "/nonexistent/device");
    EXPECT_EQ(Resolve("\\\\.\\COM7"), directory_ + "/com7");
    EXPECT_EQ(Resolve("\\\\.\\COM0"), directory_ + "/com0");
    // A link to a missing device still claims its number; opening it then fails.
    EXPECT_EQ(Resolve("\\\\.\\COM3"), directory_ + "/com3");
    EXPECT_EQ(OpenPort("\\\\.\\COM3"), InvalidPortHandle);
    EXPECT_EQ(PortOpenFailureReason(), directory_ + "/com3: no such device\n");
}

TEST_F(PortNamesTest, DevicesAreNumberedPersistentNamesFirstThenUsbThenOnBoard) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.Ready());
    Add("ttyUSB0", "usb-FTDI_B-if00-port0");
    Add("ttyACM1", "usb-Arduino_A-if00");
    Add("ttyUSB7", "", "", OnUsb);
    Add("ttyS10", "", "4");
    Add("ttyS2", "", "4");
    // The 8250 driver's ports without a chip: its type unknown, or (no attribute) a device
    // TIOCGSERIAL knows nothing of.
    Add("ttyS1", "", "0");
    Add("ttyS3", "", "", WithHardware, pty.SlavePath());
    Add("ttyAMA0");
    Add("tty5", "", "", Virtual);
    const char* expected[] = {"ttyACM1", "ttyUSB0", "ttyUSB7", "ttyAMA0", "ttyS2", "ttyS10"};
    for (int number = 1; number <= 6; ++number) {
        EXPECT_EQ(Resolve(number), Device(expected[number - 1])) << number;
    }
    for (const char* name : {"\\\\.\\COM7", "\\\\.\\COM0", "\\\\.\\COM-1"}) {
        EXPECT_EQ(Resolve(name), "<none>") << name;
    }
    EXPECT_EQ(OpenPort("\\\\.\\COM7"), InvalidPortHandle);
    EXPECT_EQ(std::string(PortOpenFailureReason()),
              "no serial device has this number; varnoth-terminal --list-ports lists them\n");
    EXPECT_EQ(Resolve("\\\\.\\COM7x"), "\\\\.\\COM7x") << "not a port name: a path as it is";
    EXPECT_EQ(Resolve("/dev/ttyUSB2"), "/dev/ttyUSB2");
}

TEST_F(PortNamesTest, AnAdapterPluggedInIsFoundAtTheNextOpen) {
    Add("ttyS0", "", "4");
    EXPECT_EQ(Resolve(1), Device("ttyS0"));
    PseudoTerminal pty;
    ASSERT_TRUE(pty.Ready());
    Add("ttyUSB0", "usb-Varnoth_Simulated-if00-port0", "", WithHardware, pty.SlavePath());
    EXPECT_EQ(Resolve(2), Device("ttyS0"));
    const SerialHandle port = OpenPort("\\\\.\\COM1");
    ASSERT_NE(port, InvalidPortHandle);
    WritePort(port, "id\n", 3);
    EXPECT_EQ(pty.Receive(3), "id\n");
    ClosePort(port);
    Shell("rm -r dev/ttyUSB0 dev/serial/by-id/* sys/class/tty/ttyUSB0");
    EXPECT_EQ(Resolve(1), Device("ttyS0"));
}

// One line per row of the port table: number, device, persistent name, ports-directory entry.
std::string Rows(const std::vector<PortListEntry>& rows) {
    std::string text;
    for (const PortListEntry& row : rows) {
        text += std::to_string(row.number) + " " + row.device + " " + row.persistentName +
                (row.fromPortsDirectory ? " entry\n" : "\n");
    }
    return text;
}

TEST_F(PortNamesTest, EntriesTakeTheirNumbersAndLeaveTheOthersAsTheyWere) {
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyUSB2"}) {
        Add(name, std::string("usb-") + name);
    }
    Link("com2", "/dev/pts/7");
    Link("com3", "/nonexistent/device");
    EXPECT_EQ(Resolve(1), Device("ttyUSB0"));
    EXPECT_EQ(Resolve(2), directory_ + "/com2");
    EXPECT_EQ(Resolve(3), directory_ + "/com3");
    EXPECT_EQ(Resolve(4), "<none>");
    EXPECT_EQ(Rows(ListPorts(24)), "1 " + Device("ttyUSB0") + " usb-ttyUSB0\n" +
                                       "2 /dev/pts/7  entry\n" + "3 /nonexistent/device  entry\n" +
                                       "0 " + Device("ttyUSB1") + " usb-ttyUSB1\n" + "0 " +
                                       Device("ttyUSB2") + " usb-ttyUSB2\n");
}

TEST_F(PortNamesTest, DevicesBeyondTheHighestNumberAreListedWithoutOne) {
    std::string expected;
    for (int index = 0; index < 30; ++index) {
        Add("ttyUSB" + std::to_string(index), "", "", OnUsb);
        expected += std::to_string(index < 24 ? index + 1 : 0) + " " +
                    Device("ttyUSB" + std::to_string(index)) + " \n";
    }
    EXPECT_EQ(Rows(ListPorts(24)), expected);
    EXPECT_EQ(Resolve(24), Device("ttyUSB23"));
}

TEST_F(PortNamesTest, APortNumberReachesALinkedPseudoTerminal) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.Ready());
    Link("com12", pty.SlavePath());
    const SerialHandle port = OpenPort("\\\\.\\COM12");
    ASSERT_NE(port, InvalidPortHandle);
    WritePort(port, "id\n", 3);
    EXPECT_EQ(pty.Receive(3), "id\n");
    ClosePort(port);
}

TEST(PortNamesDefaultTest, TheDefaultDirectoryFollowsXdgThenHome) {
    unsetenv(PortsDirectoryVariable);
    char pattern[] = "/tmp/varnoth_home_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string home = pattern;
    ASSERT_EQ(system(("mkdir -p " + home + "/.config/varnoth/ports " + home +
                      "/xdg/varnoth/ports && ln -s /dev/null " + home +
                      "/.config/varnoth/ports/com5 && ln -s /dev/null " + home +
                      "/xdg/varnoth/ports/com6")
                         .c_str()),
              0);
    const char* savedHome = std::getenv("HOME");
    const std::string oldHome = savedHome != nullptr ? savedHome : "";
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    char path[256];
    ASSERT_TRUE(ResolvePortDevice("\\\\.\\COM5", path, sizeof path));
    EXPECT_EQ(std::string(path), home + "/.config/varnoth/ports/com5");
    setenv("XDG_CONFIG_HOME", (home + "/xdg").c_str(), 1);
    ASSERT_TRUE(ResolvePortDevice("\\\\.\\COM6", path, sizeof path));
    EXPECT_EQ(std::string(path), home + "/xdg/varnoth/ports/com6");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", oldHome.c_str(), 1);
    std::system(("rm -rf " + home).c_str());
}

} // namespace
