// The terminal core over the real POSIX serial link, talking to the simulated device.
#include <gtest/gtest.h>

#include <string>

#include "tests/end_to_end_fixture.h"

namespace {

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

TEST_F(EndToEndTest, ADeviceTalkingWithoutPauseShowsAsItComesAndTypedLinesStillGoOut) {
    // Numbered lines at 960 bytes a second, as fast as 9600 baud goes, for about 20 s: one
    // chunk, since the line is never quiet for 50 ms.
    SimulatedDevice device(ports_.Entry(1), record_,
                           {"--stream", "960", "--stream-bytes", "20000"});
    ASSERT_TRUE(device.Ready());
    Type("open 1");
    const std::string lastLine = "stream 000488";
    EXPECT_TRUE(TickUntilPaneHas("stream 000002", 30)) << "the stream shows while it lasts";
    Type("hello");
    for (int tick = 0; tick < 5; ++tick) {
        PollTick();
    }
    EXPECT_EQ(ReadWholeFile(record_), "hello\n") << "the typed line went out during the stream";
    EXPECT_EQ(FakePane.output.find(lastLine), std::string::npos) << "the stream is still going";
}

} // namespace
