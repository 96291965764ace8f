// The terminal core and varnoth-upload over the real POSIX link with the simulated device: what
// a user and the device see, and the faults a terminal left running meets.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <chrono>
#include <ctime>
#include <iterator>
#include <sstream>

#include "core/input_line_commands.h"
#include "core/pane.h"
#include "core/poll_cycle.h"
#include "core/terminal_session.h"
#include "tests/fakes/fake_pane.h"
#include "tests/simulated_device.h"

namespace {

const std::string ProgramText =
    "0\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n" + std::string(1500, 'L') + "\r\n";
constexpr const char* WholeProgram = "0123456789ab";

// What the device receives, by pieces: 0 to 9 ProgramText's short lines, a and b the long one's
// two (1,023 bytes, the most a piece carries, and the rest); i the detection probe.
std::string Sent(const std::string& pieces) {
    std::string bytes;
    for (const char piece : pieces) {
        bytes += piece == 'a'   ? std::string(1023, 'L')
                 : piece == 'b' ? std::string(477, 'L') + "\n"
                 : piece == 'i' ? std::string("id\n")
                                : std::string(1, piece) + "\n";
    }
    return bytes;
}

// Waits until `process` is blocked in a read (the only blocking read of varnoth-upload is of
// its program file), as /proc tells it.
void WaitUntilReading(pid_t process) {
    const std::string reading = std::to_string(SYS_read) + " ";
    for (int wait = 0; wait < 500; ++wait) {
        if (ReadWholeFile("/proc/" + std::to_string(process) + "/syscall").rfind(reading, 0) == 0) {
            return;
        }
        usleep(10000);
    }
}

bool PaneHas(const char* text) {
    return FakePane.output.find(text) != std::string::npos;
}

class EndToEndTest : public testing::Test {
  protected:
    void SetUp() override {
        ResetFakePane();
        TerminalSession = TerminalSessionRecord{};
        std::ofstream(program_, std::ios::binary) << ProgramText;
        SetUploadPath(program_.c_str());
    }
    void TearDown() override { ClosePort(TerminalSession.PortHandle); }

    bool Type(const std::string& line) {
        FakePane.input = line;
        return ExecuteInputLine(false);
    }
    // Each tick with a port open waits out the device's silence, so budgets count ticks.
    template <typename Done> bool TickUntil(Done done, int ticks = 2000) {
        for (int i = 0; i < ticks && !done(); ++i) {
            PollTick();
        }
        return done();
    }
    // What the device received, once it holds `size` bytes: it records in its own time.
    std::string Record(std::size_t size = 0) const {
        std::string record;
        for (int wait = 0; (record = ReadWholeFile(record_)).size() < size && wait < 500; ++wait) {
            usleep(10000);
        }
        return record;
    }

    PortsDirectory ports_;
    const std::string record_ = ports_.Path() + "/received.bin";
    const std::string program_ = ports_.Path() + "/program.txt";
};

TEST_F(EndToEndTest, VarnothUploadExitsWithHowTheUploadWentAndLetsThePortGo) {
    const struct {
        const char* device;    // the simulated device's options; it is linked as port 1
        const char* arguments; // varnoth-upload's; P stands for the program file, F for a pipe
                               // that a writer fills with it, T for a terminal that brings the
                               // first two lines and then fails (hangs up)
        int exitStatus;
        const char* received; // as Sent names the pieces
        const char* out;
        const char* err;                // a part of standard error; "" when it is to be empty
        int signal = 0;                 // sent once the first line is out
        std::string text = ProgramText; // of P and F
    } runs[] = {
        {"", "--port 1 P", 0, WholeProgram, "++++++++++++\n", "went out to its end: 12 lines"},
        {"", "--quiet P", 0, "i0123456789ab", "++++++++++++\n", ""},
        {"", "P", 0, "i0123456789ab", "++++++++++++\n", "found the device on port 1 (pts/"},
        {"--answer seq:++*", "--port 1 F", 1, "012", "++*\n", "'*' at line 3\n"},
        // x and ? send the line again, - releases the next one as + does.
        {"--answer seq:+x-?*", "--port 1 P", 1, "01122", "+x-?*\n",
         "ended the upload with '*' at line 3 of 12"},
        {"--answer none", "--port 1 P", 3, "00000", "",
         "gave up at line 1 of 12: the device did not answer"},
        {"--answer garbage", "--port 1 P", 3, "00000", "?????\n",
         "gave up at line 1 of 12: the device answered it wrongly"},
        {"", "--port 2 P", 4, "", "", "failed to connect to port 2"},
        {"", "--port 1 /nonexistent/p.txt", 5, "", "", "/nonexistent/p.txt: no such file\n"},
        // Fast: the same lines, answers, retries and endings, each line as soon as its answer
        // is in; a late answer (after the second of silence) gets the line sent again.
        {"", "--fast --port 1 P", 0, WholeProgram, "++++++++++++\n", "went out to its end"},
        {"--answer seq:+x-?*", "--fast --port 1 F", 1, "01122", "+x-?*\n", "'*' at line 3\n"},
        {"--answer none", "--fast --port 1 P", 3, "00000", "", "did not answer it"},
        {"--answer garbage", "--fast --port 1 P", 3, "00000", "?????\n", "answered it wrongly"},
        {"--delay 1500", "--fast --port 1 P", 0, "00", "+\n", "1 line in", 0, "0\n"},
        // A log that fills the disk stops, said once; the upload goes on.
        {"", "--log /dev/full --port 1 P", 0, WholeProgram, "++++++++++++\n",
         "connected to port 1\nvarnoth-upload: the log stopped: /dev/full: No space left on "
         "device\nvarnoth-upload: /"},
        {"", "--port 256 P", 2, "", "",
         "varnoth-upload: --port takes a number from 0 to 255, not 256\n"
         "varnoth-upload --help for more\n"},
        {"", "--port 1", 2, "", "", "no program file named\nvarnoth-upload --help for more\n"},
        // A silent device would have made it give up (3) had the signal not stopped it.
        {"--answer none", "--port 1 P", 130, "0", "",
         "interrupted at line 1 of 12; the port is closed", SIGINT},
        {"--answer none", "--port 1 P", 130, "0", "",
         "interrupted at line 1 of 12; the port is closed", SIGTERM},
        // A port the user may not open is told, with its fix, on a real device (tests/vm).
        // No program text: nothing is sent from a file, nothing from the NUL's line of a pipe.
        {"", "--port 1 P", 5, "", "", "program.txt: line 3 holds a NUL byte (not a text file)\n", 0,
         std::string("0\n1\n2\0x\n3\n", 10)},
        {"", "--port 1 F", 5, "01", "++\n",
         "program.fifo: line 3 holds a NUL byte (not a text file)\n", 0,
         std::string("0\n1\n2\0x\n3\n", 10)},
        {"", "--port 1 P", 5, "", "", "program.txt is empty: there is nothing to upload\n", 0, ""},
        {"", "--port 1 F", 5, "", "", "program.fifo is empty: there is nothing to upload\n", 0, ""},
        {"", "--port 1 T", 5, "01", "++\n", "could not read the program file after line 2: "},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(testing::Message()
                     << run.device << " | " << run.arguments << " | signal " << run.signal);
        std::ofstream(program_, std::ios::binary) << run.text;
        std::istringstream options(run.device), arguments(run.arguments);
        SimulatedDevice device(ports_.Entry(1), record_,
                               {std::istream_iterator<std::string>(options), {}});
        ASSERT_TRUE(device.Ready());
        std::vector<std::string> words = {VARNOTH_UPLOAD_PATH};
        const std::string pipe = ports_.Path() + "/program.fifo";
        pid_t writer = 0;
        PseudoTerminal terminal;
        int heldOpen = -1;
        for (std::string word; arguments >> word;) {
            if (word == "F" && mkfifo(pipe.c_str(), 0600) == 0) {
                writer =
                    Spawn({"/bin/sh", "-c", "cat \"$0\" > \"$1\"", program_, pipe}, "/dev/null");
            }
            // Held open here, the terminal keeps the lines until the program reads them.
            const int held =
                word == "T" ? open(terminal.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC)
                            : -1;
            if (held >= 0) {
                terminal.Send("0\n1\n");
                heldOpen = held;
            }
            words.push_back(word == "P"   ? program_
                            : word == "F" ? pipe
                            : word == "T" ? terminal.SlavePath()
                                          : word);
        }
        const pid_t upload = Spawn(words, record_ + ".out", record_ + ".err");
        if (run.signal != 0 && Record(2).compare(0, 2, Sent("0")) == 0) {
            kill(upload, run.signal);
        }
        // The terminal hangs up while the program waits in a read of it for the third line:
        // that read fails, where one after the hang-up would find the end of the file.
        if (heldOpen >= 0 && Record(4) == Sent("01")) {
            WaitUntilReading(upload);
            terminal.HangUp();
        }
        int status = 0;
        waitpid(upload, &status, 0);
        close(heldOpen);
        if (writer != 0) {
            kill(writer, SIGKILL); // in case the pipe was never read to its end
            waitpid(writer, nullptr, 0);
            unlink(pipe.c_str());
        }
        // The device still holds its side, so a flag left set would outlive the program.
        EXPECT_FALSE(ExclusiveFlagSet(ports_.Entry(1)));
        device.Stop();
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, run.exitStatus);
        EXPECT_EQ(Record(), Sent(run.received));
        EXPECT_EQ(ReadWholeFile(record_ + ".out"), run.out);
        const std::string errors = ReadWholeFile(record_ + ".err");
        EXPECT_TRUE(run.err[0] == '\0' ? errors.empty() : errors.find(run.err) != std::string::npos)
            << errors;
    }
}

// Bytes the device has queued for the port (it holds its side open), as the kernel counts them.
int Queued(const std::string& port) {
    const int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int queued = 0;
    ioctl(fd, FIONREAD, &queued);
    close(fd);
    return queued;
}

// An upload interrupted before the device answered its line leaves the answer in the line: the
// next upload must not take it for the answer to its own first line. A second Ctrl+C, which
// ends the program at once, still leaves the port free for the next program.
TEST_F(EndToEndTest, AnInterruptedUploadLeavesNoAnswerBehindAndThePortFree) {
    const auto upload = [&](std::vector<std::string> options) {
        options.insert(options.begin(), VARNOTH_UPLOAD_PATH);
        options.push_back(program_);
        return Spawn(options, record_ + ".out", record_ + ".err");
    };
    const auto status = [](pid_t process) {
        int how = 0;
        waitpid(process, &how, 0);
        return WIFEXITED(how) ? WEXITSTATUS(how) : 128 + WTERMSIG(how);
    };
    {
        SimulatedDevice device(ports_.Entry(1), record_, {"--answer", "seq:*+*", "--delay", "400"});
        ASSERT_TRUE(device.Ready());
        const pid_t first = upload({"--port", "1"});
        EXPECT_EQ(Record(2), Sent("0"));
        kill(first, SIGINT);
        EXPECT_EQ(status(first), 130);
        for (int wait = 0; wait < 500 && Queued(ports_.Entry(1)) == 0; ++wait) {
            usleep(10000);
        }
        ASSERT_EQ(Queued(ports_.Entry(1)), 1) << "the answer to the interrupted line waits";
        EXPECT_EQ(status(upload({"--port", "1"})), 1);
        EXPECT_NE(ReadWholeFile(record_ + ".err").find("with '*' at line 2 of 12"),
                  std::string::npos)
            << ReadWholeFile(record_ + ".err");
    }
    SimulatedDevice mute(ports_.Entry(1), record_, {"--id", "none"});
    ASSERT_TRUE(mute.Ready());
    const pid_t detecting = upload({});
    EXPECT_EQ(Record(3), "id\n");
    kill(detecting, SIGINT);
    usleep(50000);
    kill(detecting, SIGINT);
    EXPECT_EQ(status(detecting), 128 + SIGINT);
    EXPECT_FALSE(ExclusiveFlagSet(ports_.Entry(1))) << "the port was left held";
}

TEST_F(EndToEndTest, DetectionFindsTheDeviceAndOneThatVanishesIsSaidAtOnceAndPickedUpAgain) {
    SimulatedDevice mute(ports_.Entry(0), record_ + ".mute", {"--id", "none"});
    ASSERT_TRUE(mute.Ready());
    Type("hello"); // without a port, lines and ticks go nowhere
    PollTick();
    Type("open 0");
    EXPECT_EQ(FakePane.output, "failed to connect to port 0\n");
    {
        // It answers the typed line and two lines of the upload, and goes as a pulled cable does.
        SimulatedDevice device(ports_.Entry(6), record_, {"--hangup-after-lines", "3"});
        ASSERT_TRUE(device.Ready());
        FakePane.output.clear();
        Type("open 0");
        Type("hello");
        EXPECT_TRUE(TickUntil([] { return PaneHas("+\r\n"); }));
        EXPECT_EQ(FakePane.output, "+\r\n") << "detection is silent";
        Type("rp!");
        // Far sooner than the five silences that a device merely gone quiet takes.
        EXPECT_TRUE(TickUntil([] { return PaneHas("port 6 lost: the device went away; "); }, 40));
        EXPECT_FALSE(TerminalSession.Uploading);
        EXPECT_EQ(TerminalSession.LastUploadEnd, UploadEnd::DeviceGone);
        // It may or may not have taken the third line before it went.
        const std::string probeAndLine = "id\nhello\n";
        EXPECT_TRUE(Record() == probeAndLine + Sent("01") || Record() == probeAndLine + Sent("012"))
            << Record();
        EXPECT_TRUE(PaneHas("the upload stopped at line 3\n")) << FakePane.output;
    }
    // A link spinning or blocking while the device is away would spend 50 ms a tick.
    const std::clock_t before = std::clock();
    TickUntil([] { return false; }, 400);
    EXPECT_LT(std::clock() - before, 2 * CLOCKS_PER_SEC);
    EXPECT_EQ(ReadWholeFile(record_ + ".mute"), "id\nid\n") << "each probe closes its port";
    // The same device back where it was: found again within about a second, and only said once.
    SimulatedDevice device(ports_.Entry(6), record_);
    ASSERT_TRUE(device.Ready());
    FakePane.output.clear();
    EXPECT_TRUE(TickUntil([] { return PaneHas("reconnected to port 6\n"); }, 15));
    Type("hello");
    EXPECT_TRUE(TickUntil([] { return PaneHas("+\r\n"); }));
    EXPECT_EQ(FakePane.output, "reconnected to port 6\n+\r\n");
}

TEST_F(EndToEndTest, ADeviceThatNeverPausesShowsAsItSendsTypedLinesGoOutAndThePaneIsBounded) {
    // VARNOTH_FLOOD_SECONDS sets how long; the default fills the pane to its limit many times.
    const char* configured = std::getenv("VARNOTH_FLOOD_SECONDS");
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::seconds(configured != nullptr ? std::atoi(configured) : 60);
    // The line is never quiet for 50 ms, so all of it is one chunk.
    SimulatedDevice device(ports_.Entry(1), record_, {"--stream", "0"});
    ASSERT_TRUE(device.Ready());
    Type("open 1");
    // What it streamed before the port was opened is dropped with the rest of the queue.
    EXPECT_TRUE(TickUntil([] { return PaneHas("stream "); }, 30)) << "it shows as it comes";
    Type("hello");
    while (std::chrono::steady_clock::now() < end) {
        PollTick();
        ASSERT_LE(FakePane.output.size(), OutputPaneLimit);
    }
    EXPECT_EQ(Record(), "hello\n") << "the typed line went out during the stream";
    EXPECT_NE(FakePane.output.find("stream "), std::string::npos) << "the newest text shows";
}

} // namespace
