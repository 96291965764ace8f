// The terminal core over the real POSIX serial link, talking to the simulated device.
#include <gtest/gtest.h>

#include <string>

#include "core/input_line_commands.h"
#include "core/poll_cycle.h"
#include "core/terminal_session.h"
#include "tests/fakes/fake_pane.h"
#include "tests/simulated_device.h"

namespace {

class EndToEndTest : public testing::Test {
  protected:
    void SetUp() override {
        ResetFakePane();
        TerminalSession = TerminalSessionRecord{};
        ports_.ClaimAllAsMissing(25);
        record_ = ports_.Path() + "/received.bin";
    }
    void TearDown() override {
        if (TerminalSession.PortHandle != InvalidPortHandle) {
            ClosePort(TerminalSession.PortHandle);
        }
        if (TerminalSession.UploadFile != nullptr) {
            std::fclose(TerminalSession.UploadFile);
        }
    }

    bool Type(const std::string& line) {
        FakePane.input = line;
        return ExecuteInputLine(false);
    }

    // Ticks until the pane holds `text` or the tick budget runs out; each tick with a port
    // open waits out the device's silence, so the budget is counted in ticks, not time.
    bool TickUntilPaneHas(const std::string& text, int ticks = 100) {
        for (int i = 0; i < ticks && FakePane.output.find(text) == std::string::npos; ++i) {
            PollTick();
        }
        return FakePane.output.find(text) != std::string::npos;
    }

    void TickUntilUploadEnds(int ticks = 2000) {
        for (int i = 0; i < ticks && TerminalSession.Uploading; ++i) {
            PollTick();
        }
    }

    std::string ProgramFile(const std::string& contents) {
        const std::string path = ports_.Path() + "/program.txt";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(contents.data(), 1, contents.size(), file);
        std::fclose(file);
        SetUploadPath(path.c_str());
        return path;
    }

    PortsDirectory ports_;
    std::string record_;
};

TEST_F(EndToEndTest, ATypedLineReachesTheDeviceAndItsAnswerShows) {
    SimulatedDevice device(ports_.Entry(1), record_);
    ASSERT_TRUE(device.Ready());
    Type("open 1");
    EXPECT_EQ(FakePane.output, "connected to port 1\n");
    Type("id");
    EXPECT_TRUE(TickUntilPaneHas("TELK7 simulated device\r\n\r\n"));
    Type("hello");
    EXPECT_TRUE(TickUntilPaneHas("+\r\n"));
    EXPECT_EQ(ReadWholeFile(record_), "id\nhello\n");
}

TEST_F(EndToEndTest, RpUploadsTheProgramLineByLine) {
    SimulatedDevice device(ports_.Entry(1), record_);
    ASSERT_TRUE(device.Ready());
    std::string program;
    for (int line = 1; line <= 40; ++line) {
        program += "10 PRINT \"line " + std::to_string(line) + "\"\r\n";
    }
    program += std::string(1500, 'L') + "\r\nlast line without end";
    ProgramFile(program);
    Type("open 1");
    Type("rp!");
    TickUntilUploadEnds();
    EXPECT_FALSE(TerminalSession.Uploading);
    std::string expected;
    for (int line = 1; line <= 40; ++line) {
        expected += "10 PRINT \"line " + std::to_string(line) + "\"\n";
    }
    expected += std::string(1500, 'L') + "\nlast line without end";
    EXPECT_EQ(ReadWholeFile(record_), expected);
    // 42 lines, one of them in two pieces: 43 answers; the last one ends the upload, so its
    // chunk ends a line.
    EXPECT_EQ(FakePane.output, "connected to port 1\n" + std::string(43, '+') + "\r\n");
}

TEST_F(EndToEndTest, BadAnswersAndSilenceRepeatTheLine) {
    SimulatedDevice device(ports_.Entry(2), record_, {"--answer", "seq:+x-?*"});
    ASSERT_TRUE(device.Ready());
    ProgramFile("one\ntwo\nthree\nfour\n");
    Type("open 2");
    Type("rp!");
    TickUntilUploadEnds();
    // one +, two x (again), two -, three ? (again), three * (end).
    EXPECT_EQ(ReadWholeFile(record_), "one\ntwo\ntwo\nthree\nthree\n");

    SimulatedDevice silent(ports_.Entry(3), record_ + ".silent", {"--answer", "none"});
    ASSERT_TRUE(silent.Ready());
    Type("open 3");
    Type("rp!");
    TickUntilUploadEnds();
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_EQ(ReadWholeFile(record_ + ".silent"), "one\none\none\none\none\n");
}

TEST_F(EndToEndTest, DetectionFindsTheDeviceAmongMissingAndSilentPorts) {
    SimulatedDevice mute(ports_.Entry(3), record_ + ".mute", {"--id", "none"});
    SimulatedDevice device(ports_.Entry(6), record_);
    ASSERT_TRUE(mute.Ready());
    ASSERT_TRUE(device.Ready());
    Type("open 0");
    EXPECT_EQ(FakePane.output, "");
    ASSERT_NE(TerminalSession.PortHandle, InvalidPortHandle);
    EXPECT_EQ(ReadWholeFile(record_ + ".mute"), "id\n");
    Type("ping");
    EXPECT_TRUE(TickUntilPaneHas("+\r\n"));
    EXPECT_EQ(ReadWholeFile(record_), "id\nping\n") << "the detected port stays the open one";
}

TEST_F(EndToEndTest, DetectionWithoutADeviceSaysSo) {
    SimulatedDevice mute(ports_.Entry(4), record_, {"--id", "none"});
    ASSERT_TRUE(mute.Ready());
    Type("open 0");
    EXPECT_EQ(FakePane.output, "failed to connect to port 0\n");
    EXPECT_EQ(TerminalSession.PortHandle, InvalidPortHandle);
    // The probed port was closed, so it can be opened again at once.
    Type("open 4");
    EXPECT_EQ(FakePane.output, "failed to connect to port 0\nconnected to port 4\n");
}

TEST_F(EndToEndTest, AVanishedDeviceEndsTheUploadByItsOwnRulesAndTheTerminalGoesOn) {
    SimulatedDevice device(ports_.Entry(1), record_, {"--hangup-after-lines", "2"});
    ASSERT_TRUE(device.Ready());
    ProgramFile("a\nb\nc\nd\n");
    Type("open 1");
    Type("rp!");
    TickUntilUploadEnds(200);
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_EQ(TerminalSession.UploadFile, nullptr);
    // The device answered two lines and went; it may or may not have taken the third.
    const std::string received = ReadWholeFile(record_);
    EXPECT_TRUE(received == "a\nb\n" || received == "a\nb\nc\n") << received;

    // The link went with the device; a new device on the same number works at once.
    SimulatedDevice again(ports_.Entry(1), record_ + ".again");
    ASSERT_TRUE(again.Ready());
    Type("open 1");
    Type("back");
    EXPECT_TRUE(TickUntilPaneHas("+\r\n"));
    EXPECT_EQ(ReadWholeFile(record_ + ".again"), "back\n");
}

} // namespace
