#include "tests/core_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class UploadTest : public CoreTest {
  protected:
    // Connects, names a program file with these contents and types "rp!".
    FakeDevice& Upload(const std::string& contents) {
        FakeDevice& device = Connect();
        ProgramFile(contents);
        EXPECT_TRUE(Type("rp!"));
        return device;
    }

    // Answers '+' until the upload ends (bounded, so a fault cannot hang the test).
    void AcknowledgeAll() {
        for (int i = 0; i < 20000 && TerminalSession.Uploading; ++i) {
            Receive("+");
        }
    }
};

TEST_F(UploadTest, EachAcknowledgementReleasesTheNextLineUntilTheFileEnds) {
    FakeDevice& device = Upload("A\nB\nC\n");
    EXPECT_EQ(device.writes, Lines{"A\n"});
    Receive("+");
    Receive("-");
    EXPECT_EQ(device.writes, (Lines{"A\n", "B\n", "C\n"}));
    EXPECT_TRUE(TerminalSession.Uploading);
    Receive("+");
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_EQ(TerminalSession.UploadFile, nullptr);
    EXPECT_EQ(device.received, "A\nB\nC\n");
    EXPECT_EQ(FakePane.output, "+-+\r\n") << "no message when an upload ends";
}

TEST_F(UploadTest, LineEndsAreNormalisedAsTheBytesAreRead) {
    EXPECT_EQ(Upload("A\r\nB\r\nC\r\n").received, "A\n");
    AcknowledgeAll();
    EXPECT_EQ(Device(Com3).received, "A\nB\nC\n");

    SetUp();
    // CR CR LF keeps one CR; a lone CR, also as the very last byte, stays.
    FakeDevice& device = Upload("A\r\r\nB\rC\nD\r");
    AcknowledgeAll();
    EXPECT_EQ(device.writes, (Lines{"A\r\n", "B\rC\n", "D\r"}));
}

TEST_F(UploadTest, ALastLineWithoutALineFeedIsSentWithoutOne) {
    FakeDevice& device = Upload("A\nlast");
    AcknowledgeAll();
    EXPECT_EQ(device.writes, (Lines{"A\n", "last"}));
}

TEST_F(UploadTest, LongLinesGoOutInPiecesOf1023Bytes) {
    const std::string line2000(2000, 'x');
    FakeDevice& device = Upload(line2000 + "\nnext\n");
    AcknowledgeAll();
    ASSERT_EQ(device.writes.size(), 3u);
    EXPECT_EQ(device.writes[0], std::string(1023, 'x'));
    EXPECT_EQ(device.writes[1], std::string(977, 'x') + "\n");
    EXPECT_EQ(device.writes[2], "next\n");

    SetUp();
    FakeDevice& exact = Upload(std::string(1023, 'y') + "\n");
    AcknowledgeAll();
    EXPECT_EQ(exact.writes, (Lines{std::string(1023, 'y'), "\n"}));
}

TEST_F(UploadTest, ATenMegabyteLineGoesOutWholeInPieces) {
    std::string line(10000000, 'm');
    line[5000000] = 'M';
    FakeDevice& device = Upload(line);
    AcknowledgeAll();
    EXPECT_FALSE(TerminalSession.Uploading);
    ASSERT_EQ(device.writes.size(), 9776u);
    for (const std::string& piece : device.writes) {
        ASSERT_LE(piece.size(), 1023u);
    }
    EXPECT_EQ(device.writes.back().size(), 10000000u - 9775u * 1023u);
    EXPECT_TRUE(device.received == line);
}

TEST_F(UploadTest, ACrLfPairAcrossAPieceBoundaryIsStillOneLineFeed) {
    // The CR is the 1,023rd byte: joined with its LF, the piece is 1,022 bytes and the LF.
    FakeDevice& device = Upload(std::string(1022, 'z') + "\r\nnext\n");
    AcknowledgeAll();
    EXPECT_EQ(device.writes, (Lines{std::string(1022, 'z') + "\n", "next\n"}));

    SetUp();
    // The CR is the 1,024th byte: it starts the second piece, still joined with its LF.
    FakeDevice& later = Upload(std::string(1023, 'z') + "\r\n");
    AcknowledgeAll();
    EXPECT_EQ(later.writes, (Lines{std::string(1023, 'z'), "\n"}));
}

TEST_F(UploadTest, AnEndOfFileByteEndsTheProgram) {
    FakeDevice& device = Upload("A\nB\x1A"
                                "C\nD\n");
    AcknowledgeAll();
    EXPECT_EQ(device.writes, (Lines{"A\n", "B"}));

    SetUp();
    // A CR before it stays, having no LF to join.
    FakeDevice& withCr = Upload("A\r\x1A\n");
    AcknowledgeAll();
    EXPECT_EQ(withCr.writes, Lines{"A\r"});

    SetUp();
    FakeDevice& only = Upload("\x1A");
    EXPECT_TRUE(TerminalSession.Uploading) << "an empty first line still starts the upload";
    Receive("+");
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_TRUE(only.writes.empty());
}

TEST_F(UploadTest, ANulCutsWhatIsSentOfItsLineOrPiece) {
    FakeDevice& device = Upload(std::string("AB\0C\nD\n", 7));
    AcknowledgeAll();
    EXPECT_EQ(device.writes, (Lines{"AB", "D\n"}));

    SetUp();
    // A NUL in the first piece of a long line does not touch the second piece.
    std::string line = std::string(10, 'a') + '\0' + std::string(1500, 'b') + "\n";
    FakeDevice& pieces = Upload(line);
    AcknowledgeAll();
    EXPECT_EQ(pieces.writes, (Lines{std::string(10, 'a'), std::string(488, 'b') + "\n"}));
}

TEST_F(UploadTest, ALineThatBeginsWithNulEndsTheUploadWhenAskedFor) {
    FakeDevice& device = Upload(std::string("A\n\0B\nC\n", 7));
    Receive("+");
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_EQ(device.writes, Lines{"A\n"});

    SetUp();
    // As the first line, '+' moves past it while a bad answer ends the upload.
    FakeDevice& first = Upload(std::string("\0A\nB\n", 5));
    EXPECT_TRUE(first.writes.empty());
    Receive("+");
    EXPECT_EQ(first.writes, Lines{"B\n"});
    SetUp();
    Upload(std::string("\0A\nB\n", 5));
    Receive("?");
    EXPECT_FALSE(TerminalSession.Uploading);
}

TEST_F(UploadTest, FiveBadAnswersForOneLineGiveUpAfterFourRepeats) {
    FakeDevice& device = Upload("A\nB\n");
    for (int i = 0; i < 4; ++i) {
        Receive("?");
        EXPECT_TRUE(TerminalSession.Uploading);
    }
    EXPECT_EQ(TerminalSession.RetryCount, 4);
    Receive("?");
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_EQ(TerminalSession.UploadFile, nullptr);
    EXPECT_EQ(device.writes, Lines(5, "A\n"));
}

TEST_F(UploadTest, RepeatsAreCountedPerLineAndEchoedTextUsesThemUp) {
    FakeDevice& device = Upload("A\nB\n");
    Receive("??");
    Receive("+");
    EXPECT_EQ(TerminalSession.RetryCount, 0);
    Receive("????");
    EXPECT_TRUE(TerminalSession.Uploading);
    // With the four repeats used up, the first byte of an echoed line ends the upload and
    // the acknowledgement behind it comes too late.
    Receive("B\n+");
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_EQ(device.writes, (Lines{"A\n", "A\n", "A\n", "B\n", "B\n", "B\n", "B\n", "B\n"}));
}

TEST_F(UploadTest, FlowControlBytesChangeNothing) {
    FakeDevice& device = Upload("A\nB\n");
    Receive("?");
    Receive("\x11\x13\x11");
    EXPECT_EQ(TerminalSession.RetryCount, 1);
    EXPECT_TRUE(TerminalSession.Uploading);
    EXPECT_EQ(device.writes, (Lines{"A\n", "A\n"}));
    EXPECT_STREQ(TerminalSession.UploadLine, "A\n");
}

TEST_F(UploadTest, EitherEndAnswerStopsTheUploadMidFile) {
    for (const char* end : {"*", ">"}) {
        SetUp();
        FakeDevice& device = Upload("A\nB\nC\n");
        Receive("+");
        Receive(end);
        EXPECT_FALSE(TerminalSession.Uploading) << end;
        EXPECT_EQ(TerminalSession.UploadFile, nullptr);
        EXPECT_EQ(device.writes, (Lines{"A\n", "B\n"})) << end;
    }
}

TEST_F(UploadTest, AnEmptyFileSendsNothingAndEndsOnTheFirstAnswer) {
    FakeDevice& device = Upload("");
    EXPECT_TRUE(TerminalSession.Uploading);
    Receive("\x13");
    EXPECT_TRUE(TerminalSession.Uploading);
    Receive("?");
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_TRUE(device.writes.empty());

    SetUp();
    Upload("");
    TicksWithoutData(10);
    EXPECT_FALSE(TerminalSession.Uploading) << "the first time-out ends it too";
}

TEST_F(UploadTest, RpRestartsARunningUploadFromTheFirstLine) {
    FakeDevice& device = Upload("A\nB\nC\n");
    Receive("+");
    Receive("?");
    TicksWithoutData(4);
    Type("rp!");
    EXPECT_EQ(TerminalSession.RetryCount, 0);
    EXPECT_EQ(TerminalSession.IdleTicks, 4) << "a restart keeps the idle ticks so far";
    AcknowledgeAll();
    EXPECT_EQ(device.writes, (Lines{"A\n", "B\n", "B\n", "A\n", "B\n", "C\n"}));
}

TEST_F(UploadTest, AFailedRestartLeavesTheRunningUploadGoingWithItsCountCleared) {
    FakeDevice& device = Upload("A\nB\n");
    Receive("??");
    SetUploadPath("/nonexistent/program.txt");
    Type("rp!");
    EXPECT_EQ(FakePane.output, "??no program to upload found!!!\n");
    EXPECT_TRUE(TerminalSession.Uploading);
    EXPECT_EQ(TerminalSession.RetryCount, 0);
    Receive("+");
    Receive("+");
    EXPECT_EQ(device.writes, (Lines{"A\n", "A\n", "A\n", "B\n"}));
    EXPECT_FALSE(TerminalSession.Uploading);
}

TEST_F(UploadTest, MissingUnreadableOrOverlongProgramPathsAreReported) {
    Connect();
    Type("rp!");
    EXPECT_EQ(FakePane.output, "no program to upload found!!!\n");

    FakePane.output.clear();
    SetUploadPath(testing::TempDir().c_str());
    Type("rp!");
    EXPECT_EQ(FakePane.output, "no program to upload found!!!\n") << "a folder is no program";

    // A path too long to keep must not be cut to a shorter one that names another file. The
    // long paths name the same file through "./" steps, which every platform reads alike.
    const std::string real = ProgramFile("A\n");
    const std::string folder = testing::TempDir();
    auto padded = [&](std::size_t length) {
        std::string steps;
        while (real.size() + steps.size() + 2 <= length) {
            steps += "./";
        }
        if (real.size() + steps.size() < length) {
            steps += "/";
        }
        return folder + steps + real.substr(folder.size());
    };
    const std::string longPath = padded(UploadPathCapacity);
    ASSERT_EQ(longPath.size(), UploadPathCapacity);
    EXPECT_FALSE(SetUploadPath(longPath.c_str()));
    FakePane.output.clear();
    Type("rp!");
    EXPECT_EQ(FakePane.output, "no program to upload found!!!\n");
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_TRUE(Device(Com3).writes.empty());

    // The longest path that fits is kept whole.
    const std::string longest = padded(UploadPathCapacity - 1);
    ASSERT_EQ(longest.size(), UploadPathCapacity - 1);
    EXPECT_TRUE(SetUploadPath(longest.c_str()));
    EXPECT_EQ(std::string(TerminalSession.UploadPath), longest);
    EXPECT_TRUE(Type("rp!"));
    EXPECT_TRUE(TerminalSession.Uploading);
}

TEST_F(UploadTest, TypedLinesAndOpenGoBetweenUploadLines) {
    FakeDevice& device = Upload("A\nB\nC\n");
    EXPECT_FALSE(Type("hello"));
    Receive("+");
    EXPECT_EQ(device.received, "A\nhello\nB\n");

    // After a new "open" the rest of the upload goes to the new port.
    FakeDevice& other = Device("\\\\.\\COM4");
    Type("open 4");
    Receive("+");
    EXPECT_EQ(other.received, "C\n");
    EXPECT_TRUE(TerminalSession.Uploading);
}

// What the upload program reports: how the upload ended, at which line (pieces of a long line
// count as lines), and the file's total by the same reading rules.
TEST_F(UploadTest, HowAnUploadEndedAndAtWhichLineIsKept) {
    struct Case {
        std::string file;
        const char* answers; // one answer a byte; '.' is a second of silence
        UploadEnd end;
        std::int32_t line;
        std::int32_t total;
    };
    const std::string longLine = std::string(2000, 'x') + "\n";
    const Case cases[] = {
        {"A\nB\nC\n", "+-+", UploadEnd::FileSent, 3, 3},
        {longLine + "next\n", "+*", UploadEnd::StoppedByStar, 2, 3},
        {longLine + "next\n", "++>", UploadEnd::StoppedByPrompt, 3, 3},
        {"A\nB\n", "+?\x11?x?!", UploadEnd::GaveUpOnWrongAnswer, 2, 2},
        // The answer that gives up decides: wrong answers, then silence.
        {"A\nB\n", "??...", UploadEnd::GaveUpOnSilence, 1, 2},
        {"", ".", UploadEnd::FileSent, 0, 0},
        // CR LF joined across a piece boundary, 0x1A ends the program.
        {std::string(1022, 'z') + "\r\nnext\x1A" + "more\n", "++", UploadEnd::FileSent, 2, 2},
        // A line that begins with NUL ends it as the end of the file does.
        {std::string("A\n\0B\nC\n", 7), "+", UploadEnd::FileSent, 1, 1},
    };
    for (const Case& c : cases) {
        SetUp();
        FakeDevice& device = Connect();
        ProgramFile(c.file);
        EXPECT_EQ(CountProgramLines(), c.total) << c.answers;
        Type("rp!");
        EXPECT_EQ(TerminalSession.LastUploadEnd, UploadEnd::None);
        for (const char* answer = c.answers; *answer != '\0'; ++answer) {
            if (*answer == '.') {
                TicksWithoutData(UploadIdleTickLimit);
            } else {
                Receive(std::string(1, *answer));
            }
        }
        EXPECT_FALSE(TerminalSession.Uploading) << c.answers;
        EXPECT_EQ(TerminalSession.LastUploadEnd, c.end) << c.answers;
        EXPECT_EQ(TerminalSession.UploadLineNumber, c.line) << c.answers;
        if (c.end == UploadEnd::FileSent) {
            EXPECT_EQ(device.writes.size(), static_cast<std::size_t>(c.total)) << c.answers;
        }
    }
    SetUploadPath("/nonexistent/program.txt");
    EXPECT_EQ(CountProgramLines(), -1);
}

} // namespace
