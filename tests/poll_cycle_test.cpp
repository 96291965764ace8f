#include "tests/core_fixture.h"

#include "core/pane.h"

namespace {

using PollCycleTest = CoreTest;

TEST_F(PollCycleTest, WidensLineFeedsDropsFlowControlAndEndsEachChunkWithALineBreak) {
    Connect();
    Receive("ab\ncd");
    EXPECT_EQ(FakePane.output, "ab\r\ncd\r\n");

    FakePane.output.clear();
    Receive("x\x11y\x13");
    EXPECT_EQ(FakePane.output, "xy\r\n");

    // The CR is copied and the LF widened: the device's CR LF shows as CR CR LF.
    FakePane.output.clear();
    Receive("\r\n");
    EXPECT_EQ(FakePane.output, "\r\r\n\r\n");

    // Other control bytes and bytes from 0x80 up pass unchanged.
    FakePane.output.clear();
    Receive("\x07\x1b[1m\xe9\xff");
    EXPECT_EQ(FakePane.output, "\x07\x1b[1m\xe9\xff\r\n");
}

TEST_F(PollCycleTest, ANulByteEndsTheVisibleTextOfItsChunk) {
    Connect();
    Receive(std::string("ab\0cd", 5));
    EXPECT_EQ(FakePane.output, "ab\r\n");

    FakePane.output.clear();
    FakePane.inserts = 0;
    Receive(std::string("\0xyz", 4));
    EXPECT_EQ(FakePane.output, "\r\n");
    EXPECT_EQ(FakePane.inserts, 2) << "an empty append, then the line break";
}

TEST_F(PollCycleTest, EachChunkOfAPausedReplyEndsALine) {
    FakeDevice& device = Connect();
    device.chunks = {"hel", "lo\n"};
    PollTick();
    PollTick();
    EXPECT_EQ(FakePane.output, "hel\r\nlo\r\n\r\n");
}

TEST_F(PollCycleTest, NothingHappensWithoutDataOrWithoutAPort) {
    PollTick();
    Connect();
    QuietTicks(20);
    EXPECT_EQ(FakePane.output, "");
    EXPECT_EQ(FakePane.inserts, 0);
    EXPECT_TRUE(Device(Com3).received.empty());
}

TEST_F(PollCycleTest, AFullChunkOfLineFeedsFitsTheDisplayBuffer) {
    FakeDevice& device = Connect();
    // One byte more than a chunk holds: the tick takes capacity - 1, the next the rest.
    device.chunks.push_back(std::string(ReceiveCapacity, '\n'));
    PollTick();
    std::string widened;
    for (std::size_t i = 0; i < ReceiveCapacity - 1; ++i) {
        widened += "\r\n";
    }
    EXPECT_EQ(FakePane.output, widened + "\r\n");
    FakePane.output.clear();
    PollTick();
    EXPECT_EQ(FakePane.output, "\r\n\r\n");
}

TEST_F(PollCycleTest, DuringAnUploadAnswersCollectOnOneLine) {
    FakeDevice& device = Connect();
    ProgramFile("A\nB\nC\nD\n");
    Type("rp!");
    Receive("+");
    Receive("+");
    EXPECT_EQ(FakePane.output, "++");
    EXPECT_EQ(device.received, "A\nB\nC\n");
}

TEST_F(PollCycleTest, BytesAfterTheOneThatEndsAnUploadAreShownButNotAnswers) {
    FakeDevice& device = Connect();
    ProgramFile("A\nB\nC\n");
    Type("rp!");
    Receive("*+\n");
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_EQ(device.received, "A\n") << "the '+' after the end released nothing";
    EXPECT_EQ(FakePane.output, "*+\r\n\r\n");
    EXPECT_EQ(TerminalSession.UploadFile, nullptr);
}

TEST_F(PollCycleTest, TheTenthQuietTickInARowAsksForTheLineAgain) {
    FakeDevice& device = Connect();
    ProgramFile("A\nB\n");
    Type("rp!");
    QuietTicks(9);
    EXPECT_EQ(device.writes.size(), 1u);
    EXPECT_EQ(TerminalSession.IdleTicks, 9);
    PollTick();
    EXPECT_EQ(device.writes, (std::vector<std::string>{"A\n", "A\n"}));
    EXPECT_EQ(TerminalSession.IdleTicks, 0);
    EXPECT_EQ(TerminalSession.RetryCount, 1);

    // Any byte in between starts the count again, even one that is no answer at all.
    QuietTicks(9);
    Receive("\x11");
    QuietTicks(9);
    EXPECT_EQ(device.writes.size(), 2u);
    PollTick();
    EXPECT_EQ(device.writes.size(), 3u);
}

TEST_F(PollCycleTest, AReceivedNulIsABadAnswerThoughItEndsTheVisibleText) {
    FakeDevice& device = Connect();
    ProgramFile("A\n");
    Type("rp!");
    Receive(std::string("\0", 1));
    EXPECT_EQ(device.writes, (std::vector<std::string>{"A\n", "A\n"}));
    EXPECT_EQ(FakePane.output, "");
}

TEST_F(PollCycleTest, AnUploadWithoutAPortEndsOnTheFiftiethQuietTick) {
    ProgramFile("A\n");
    Type("rp!");
    ASSERT_TRUE(TerminalSession.Uploading);
    QuietTicks(49);
    EXPECT_TRUE(TerminalSession.Uploading);
    PollTick();
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_EQ(TerminalSession.UploadFile, nullptr);
    EXPECT_EQ(FakeSerial.writesWithoutPort, 5) << "the first send and four repeats";
    EXPECT_EQ(FakePane.output, "");
}

} // namespace
