// varnoth-upload run as a child process, the way a script runs it, against the simulated device
// over the POSIX serial link.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>

#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "tests/simulated_device.h"

namespace {

struct Outcome {
    int exitStatus; // -1 when the program did not exit by itself
    std::string out;
    std::string err;
};

// Ten lines with CR LF ends and one of 1,500 bytes, which goes out in two pieces: 12 lines
// as the device sees them.
const std::string ProgramText = [] {
    std::string text;
    for (int line = 1; line <= 10; ++line) {
        text += std::to_string(line * 10) + " PRINT \"line " + std::to_string(line) + "\"\r\n";
    }
    return text + std::string(1500, 'L') + "\r\n";
}();

// The pieces the device receives, in order.
std::vector<std::string> ProgramPieces() {
    std::vector<std::string> pieces;
    for (int line = 1; line <= 10; ++line) {
        pieces.push_back(std::to_string(line * 10) + " PRINT \"line " + std::to_string(line) +
                         "\"\n");
    }
    pieces.push_back(std::string(1023, 'L'));
    pieces.push_back(std::string(477, 'L') + "\n");
    return pieces;
}

std::string Joined(const std::vector<std::string>& pieces, std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t i = from; i < to; ++i) {
        text += pieces[i];
    }
    return text;
}

class UploadProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        ports_.ClaimAllAsMissing(25);
        record_ = ports_.Path() + "/received.bin";
        program_ = ports_.Path() + "/program.txt";
        std::FILE* file = std::fopen(program_.c_str(), "wb");
        std::fwrite(ProgramText.data(), 1, ProgramText.size(), file);
        std::fclose(file);
    }

    // Starts the program; its output goes to files, read back by Finish.
    pid_t Start(const std::vector<std::string>& arguments) {
        std::vector<std::string> words = {VARNOTH_UPLOAD_PATH};
        words.insert(words.end(), arguments.begin(), arguments.end());
        const pid_t pid = fork();
        if (pid == 0) {
            const int out = open(OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& word : words) {
                argv.push_back(&word[0]);
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    Outcome Finish(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeFile(OutPath()),
                ReadWholeFile(ErrPath())};
    }

    std::string OutPath() const { return ports_.Path() + "/stdout.txt"; }
    std::string ErrPath() const { return ports_.Path() + "/stderr.txt"; }

    PortsDirectory ports_;
    std::string record_;
    std::string program_;
};

struct RunCase {
    const char* name;
    std::vector<std::string> device; // the simulated device's options, linked as port 1
    std::vector<std::string> arguments;
    int exitStatus;
    std::size_t piecesReceived; // each once; SIZE_MAX: the first one five times
    const char* stdoutText;
    const char* stderrText; // a part of standard error; "" when it is to be empty
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const RunCase& run, std::ostream* out) {
    *out << run.name;
}

constexpr std::size_t FirstLineFiveTimes = static_cast<std::size_t>(-1);
constexpr const char* Program = "PROGRAM"; // stands for the program file's path

class UploadProgramRunTest : public UploadProgramTest,
                             public testing::WithParamInterface<RunCase> {};

TEST_P(UploadProgramRunTest, ExitStatusDeviceRecordAndMessages) {
    const RunCase& run = GetParam();
    SimulatedDevice device(ports_.Entry(1), record_, run.device);
    ASSERT_TRUE(device.Ready());
    std::vector<std::string> arguments;
    for (const std::string& argument : run.arguments) {
        arguments.push_back(argument == Program ? program_ : argument);
    }
    const Outcome outcome = Finish(Start(arguments));
    device.Stop();
    EXPECT_EQ(outcome.exitStatus, run.exitStatus) << outcome.err;
    const std::vector<std::string> pieces = ProgramPieces();
    const std::string expected = run.piecesReceived == FirstLineFiveTimes
                                     ? Joined(std::vector<std::string>(5, pieces[0]), 0, 5)
                                     : Joined(pieces, 0, run.piecesReceived);
    EXPECT_EQ(ReadWholeFile(record_), expected);
    EXPECT_EQ(outcome.out, run.stdoutText);
    if (run.stderrText[0] == '\0') {
        EXPECT_EQ(outcome.err, "");
    } else {
        EXPECT_NE(outcome.err.find(run.stderrText), std::string::npos) << outcome.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UploadProgramRunTest,
    testing::Values(
        RunCase{"AcknowledgedToItsEnd",
                {},
                {"--port", "1", Program},
                0,
                12,
                "++++++++++++\n",
                "went out to its end: 12 lines"},
        RunCase{"StarMidFile",
                {"--answer", "seq:++*"},
                {"--port", "1", Program},
                1,
                3,
                "++*\n",
                "ended the upload with '*' at line 3 of 12"},
        RunCase{"PromptMidFile",
                {"--answer", "seq:+>"},
                {"--port", "1", Program},
                1,
                2,
                "+>\n",
                "ended the upload with '>' at line 2 of 12"},
        RunCase{"SilentDevice",
                {"--answer", "none"},
                {"--port", "1", Program},
                3,
                FirstLineFiveTimes,
                "",
                "gave up at line 1 of 12: the device did not answer"},
        RunCase{"GarbageAnswers",
                {"--answer", "garbage"},
                {"--port", "1", Program},
                3,
                FirstLineFiveTimes,
                "?????\n",
                "gave up at line 1 of 12: the device answered it wrongly"},
        RunCase{
            "MissingPort", {}, {"--port", "2", Program}, 4, 0, "", "failed to connect to port 2"},
        RunCase{"MissingFileLeavesThePortAlone",
                {},
                {"--port", "1", "/nonexistent/program.txt"},
                5,
                0,
                "",
                "cannot read the program file /nonexistent/program.txt"},
        RunCase{"QuietSaysNothingWhenAllWentWell",
                {},
                {"--quiet", "--port", "1", Program},
                0,
                12,
                "++++++++++++\n",
                ""},
        RunCase{"BadPortNumber", {}, {"--port", "25", Program}, 2, 0, "", "usage:"},
        RunCase{"NoProgramFile", {}, {"--port", "1"}, 2, 0, "", "usage:"}),
    [](const testing::TestParamInfo<RunCase>& param) { return std::string(param.param.name); });

TEST_F(UploadProgramTest, DetectionFindsTheDeviceBehindAMuteOne) {
    SimulatedDevice mute(ports_.Entry(3), record_ + ".mute", {"--id", "none"});
    SimulatedDevice device(ports_.Entry(6), record_);
    ASSERT_TRUE(mute.Ready());
    ASSERT_TRUE(device.Ready());
    const Outcome outcome = Finish(Start({program_}));
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(ReadWholeFile(record_ + ".mute"), "id\n");
    const std::vector<std::string> pieces = ProgramPieces();
    EXPECT_EQ(ReadWholeFile(record_), "id\n" + Joined(pieces, 0, pieces.size()));
}

// The exclusive flag (TIOCEXCL) outlives a program that dies without closing the port while
// the device still holds its side, and keeps every other program but root's out.
bool ExclusiveFlagSet(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return true;
    }
    int exclusive = 0;
    ioctl(fd, TIOCGEXCL, &exclusive);
    close(fd);
    return exclusive != 0;
}

TEST_F(UploadProgramTest, InterruptStopsAtOnceAndClosesThePort) {
    for (const int interrupt : {SIGINT, SIGTERM}) {
        SimulatedDevice device(ports_.Entry(1), record_, {"--answer", "none"});
        ASSERT_TRUE(device.Ready());
        const pid_t pid = Start({"--port", "1", program_});
        // Until the first line is out, so the signal comes during the upload.
        const std::string firstLine = ProgramPieces()[0];
        for (int i = 0; i < 500 && ReadWholeFile(record_) != firstLine; ++i) {
            usleep(10000);
        }
        ASSERT_EQ(ReadWholeFile(record_), firstLine);
        kill(pid, interrupt);
        const Outcome outcome = Finish(pid);
        // A silent device would have made it give up (3) had the signal not stopped it.
        EXPECT_EQ(outcome.exitStatus, 130) << interrupt;
        EXPECT_NE(outcome.err.find("interrupted at line 1 of 12; the port is closed"),
                  std::string::npos)
            << outcome.err;
        EXPECT_FALSE(ExclusiveFlagSet(ports_.Entry(1))) << interrupt;
        const SerialHandle again = OpenPort("\\\\.\\COM1");
        EXPECT_NE(again, InvalidPortHandle) << interrupt;
        if (again != InvalidPortHandle) {
            ClosePort(again);
        }
    }
}

} // namespace
