// The core through its front door over the fake serial link and pane: which lines are local
// commands ("rp!" and "clear" exactly, "open" as a prefix), "open n" and detection, the upload
// against the models of tests/model_comparison.h, unreadable program files, the pane's limit.
#include <gtest/gtest.h>

#include <fstream>

#include "core/session_log.h"
#include "tests/fakes/fake_log_file.h"
#include "tests/model_comparison.h"

namespace {

using Names = std::vector<std::string>;

TEST(InputLineCommandsTest, OnlyExactCommandsAreLocalAndOtherLinesGoOutAsTyped) {
    const std::string shown = "hi\r\n"; // what the device sent before the line was typed
    struct Case {
        std::string typed;
        bool local;
        std::string sent, pane;
    };
    std::vector<Case> cases = {
        {"clear", true, "", ""},
        {"rp!", true, "",
         shown + "no program to upload found!!!\n"
                 "no program file was named on the command line\n"},
        // "open" is a prefix: what follows is the argument, here read as 0, detection.
        {"opened", true, "id\n", shown + "failed to connect to ported\n"},
        {"open\t3", true, "", shown + "connected to port\t3\n"},
    };
    for (std::string other :
         {" rp!\r", "rp! ", "RP!", "rp", "Clear", "clear all", "reopen", "Open 2"}) {
        cases.push_back({other, false, other + "\n", shown});
    }
    for (const auto& c : cases) {
        ResetCore();
        FakeDevice& device = Connect();
        device.chunks = {"hi"};
        PollTick();
        EXPECT_EQ(Type(c.typed), c.local) << c.typed;
        EXPECT_EQ(device.received, c.sent) << c.typed;
        EXPECT_EQ(FakePane.output, c.pane) << c.typed;
        EXPECT_EQ(FakePane.input, "") << c.typed;
    }
}

std::string Com(const std::string& number) {
    return "\\\\.\\COM" + number;
}

TEST(PortConnectionTest, TheNumberIsReadWithBlanksSignAndWrapAndTheArgumentEchoed) {
    const struct {
        const char* argument;
        const char* port; // the port opened, "0" by detection, nullptr none
        std::string pane;
    } cases[] = {
        {" 3", "3", "connected to port 3\n"},
        {"\t\n\v\f\r +12 and more", "12", "connected to port\t\n\v\f\r +12 and more\n"},
        {" -7", "-7", "connected to port -7\n"},
        // 32-bit arithmetic that wraps: 2^32 + 3 is 3, 2^31 the most negative number.
        {" 4294967299", "3", "connected to port 4294967299\n"},
        {" 2147483648", "-2147483648", "connected to port 2147483648\n"},
        {" -2147483648", "-2147483648", "connected to port -2147483648\n"},
        // Windows numbers COM ports up to 255; from 256 up nothing is opened and nothing said,
        // and the old port is closed all the same.
        {" 25", "25", "connected to port 25\n"},
        {" 255", "255", "connected to port 255\n"},
        {" 256", nullptr, ""},
        {" 99999999999999999999", nullptr, ""}, // wraps to 1661992959
        {"", nullptr, "use: open n to connect\n"},
        // No digits, or no blank between sign and digits, read as 0.
        {" - 4", "0", ""},
        {" x7", "0", ""},
    };
    for (const auto& c : cases) {
        ResetCore();
        // The old port is closed in the middle of a chunk: its line ends before the report.
        FakeDevice& old = Connect();
        old.chunks = {"hij"};
        old.bytesPerRead = 2;
        PollTick();
        Device(Com("0")).identityReply = "ok>"; // the device's prompt names it too
        if (c.port != nullptr) {
            Device(Com(c.port));
        }
        EXPECT_TRUE(Type(std::string("open") + c.argument));
        EXPECT_EQ(FakeSerial.openName, c.port == nullptr ? "" : Com(c.port)) << c.argument;
        EXPECT_EQ(FakePane.output, "hi\r\n" + c.pane) << c.argument;
    }
}

TEST(PortConnectionTest, DetectionKeepsTheFirstPortThatIdentifiesItselfAndClosesTheOthers) {
    ResetCore();
    Device(Com("1")).chunks = {"", "TELK7"}; // nothing within the probe's read, then late
    Device(Com("2")).identityReply = std::string("ok\0TELK7", 8); // not read past a NUL
    Device(Com("5")).busy = true;
    Device(Com("7")).identityReply = "TELK7 1.0\r\n";
    Device(Com("9")).identityReply = "TELK7";
    FakeSerial.failureReason = "/dev/ttyUSB0: in use by another program\n";
    EXPECT_TRUE(Type("open 0"));
    EXPECT_EQ(FakeSerial.opened, (Names{Com("1"), Com("2"), Com("7")}));
    EXPECT_EQ(FakeSerial.closed, (Names{Com("1"), Com("2")}));
    EXPECT_EQ(FakeSerial.sleptMilliseconds, 1500u) << "each probe waits half a second";
    PollTick();
    EXPECT_EQ(FakePane.output, "") << "a match is silent and its reply is not shown";

    // Without a match: no port, and no reason, which would be one port's of many.
    Device(Com("1")).chunks.clear();
    Device(Com("7")).identityReply = "telk7";
    Device(Com("9")).busy = true;
    Device(Com("256")).identityReply = "TELK7"; // past the last port tried
    Type("open x");
    EXPECT_EQ(FakePane.output, "failed to connect to port x\n");
    EXPECT_EQ(FakeSerial.openName, "");
    EXPECT_EQ(FakeSerial.closed, FakeSerial.opened);
    Device(Com("255")).identityReply = "TELK7";
    Type("open 0");
    EXPECT_EQ(FakeSerial.openName, Com("255")) << "detection goes on to the last port";
    // A port opened directly gets the platform's reason after its failure.
    FakePane.output.clear();
    Type("open 4");
    EXPECT_EQ(FakePane.output, "failed to connect to port 4\n" + FakeSerial.failureReason);

    // During an upload the probe's read takes what the device sends, answers included.
    ProgramFile("A\nB\n");
    Type("rp!");
    Device(Com("0")).chunks = {"+>"};
    Type("open 0");
    EXPECT_EQ(Device(Com("0")).writes, Names{"id\n"});
    EXPECT_TRUE(TerminalSession.Uploading);
    EXPECT_EQ(TerminalSession.UploadLineNumber, 1);
}

TEST(PortConnectionTest, AVanishedDeviceIsSaidOnceLookedForEachSecondAndOpenedAgainWhenBack) {
    ResetCore();
    ProgramFile("A\nB\n");
    FakeDevice& device = Connect();
    Type("rp!");
    device.chunks = {"+"};
    PollTick();
    device.gone = true;
    PollTick();
    // On a line of its own, not after the answers.
    const std::string lost =
        "+\r\nport 3 lost: the device went away; the upload stopped at line 2\n";
    EXPECT_EQ(FakePane.output, lost);
    EXPECT_EQ(TerminalSession.LastUploadEnd, UploadEnd::DeviceGone);
    EXPECT_EQ(TerminalSession.UploadFile, nullptr);
    EXPECT_EQ(FakeSerial.closed, Names{Com("3")});
    for (int tick = 0; tick < 29; ++tick) {
        PollTick();
    }
    device.gone = false;
    FakeSerial.numberNow = 5; // the number "open" gives it now
    PollTick();
    EXPECT_EQ(FakePane.output, lost + "reconnected to port 5\n") << "at the third look, said once";
    EXPECT_EQ(FakeSerial.opened, (Names{Com("3"), Com("3")}));
    EXPECT_FALSE(TerminalSession.Uploading) << "the upload does not resume by itself";

    // "open" ends the wait, also one that finds no port.
    device.gone = true;
    PollTick();
    Type("open 30");
    device.gone = false;
    for (int tick = 0; tick < 30; ++tick) {
        PollTick();
    }
    EXPECT_EQ(FakeSerial.openName, "");
}

TEST(UploadTest, TheCoreAgreesWithTheModelsOnRandomFilesAnswersAndReads) {
    Choices choices;
    std::size_t transmissions = 0, cutReads = 0;
    for (int run = 0; run < 1500; ++run) {
        ResetCore();
        ASSERT_EQ(CompareWithModels(choices, cutReads), "") << "run " << run;
        transmissions += Device("\\\\.\\COM1").writes.size();
    }
    // The choices must reach well past the first line and cut chunks into many pieces, or the
    // comparison proves little.
    EXPECT_GT(transmissions, 50000u);
    EXPECT_GT(cutReads, 20000u);
}

TEST(UploadTest, AProgramPathThatCannotBeReadOrKeptIsReported) {
    ResetCore();
    const std::string real = ProgramFile("A\n");
    const std::string folder = ProgramFolder();
    // A path too long to keep must not be cut to a shorter one that names another file. The
    // long paths name the same file through "./" steps, which every platform reads alike.
    auto padded = [&](std::size_t length) {
        std::string steps;
        while (real.size() + steps.size() + 2 <= length) {
            steps += "./";
        }
        steps += real.size() + steps.size() < length ? "/" : "";
        return folder + steps + real.substr(folder.size());
    };
    const std::string noProgram = "no program to upload found!!!\n";
    // Not "nul.txt": Windows takes that name for its NUL device, whatever the extension.
    const std::string textWithNul = folder + "zero-byte.txt";
    std::ofstream(textWithNul, std::ios::binary) << std::string("A\r\nB\0C\nD\n", 9);
    const struct {
        std::string path;
        bool kept;
        std::string reason; // after noProgram; none when the upload starts
    } cases[] = {
        {"", true, "no program file was named on the command line"},
        {folder + "missing.txt", true, folder + "missing.txt: no such file"},
        {folder, true, folder + ": a folder, not a file"},
        {textWithNul, true, textWithNul + ": line 2 holds a NUL byte (not a text file)"},
        {padded(UploadPathCapacity), false, "the program file's path is longer than 511 bytes"},
        {padded(UploadPathCapacity - 1), true, ""}, // the longest that fits is kept whole
    };
    for (const auto& c : cases) {
        ResetCore();
        FakeDevice& device = Connect();
        EXPECT_EQ(SetUploadPath(c.path.c_str()), c.kept) << c.path;
        EXPECT_TRUE(Type("rp!"));
        EXPECT_EQ(FakePane.output, c.reason.empty() ? "" : noProgram + c.reason + "\n") << c.path;
        EXPECT_EQ(device.received, c.reason.empty() ? "A\n" : "") << c.path;
        EXPECT_EQ(TerminalSession.UploadLineTotal, c.reason.empty() ? 1 : -1) << c.path;
    }
}

// The test's clock: 00:00:01.000 is 1000 ms. A line split across ticks keeps the time of its
// first byte; a prompt ends its line at the chunk's end; each piece is written as it comes.
TEST(SessionLogTest, LinesCarryTheirFirstBytesTimeAndReachTheFileAsTheyCome) {
    ResetCore();
    FakeLogFile = FakeLogFileState{};
    FakeDevice& device = Connect();
    char reason[LogFileReasonCapacity];
    ASSERT_TRUE(StartLog("session.log", reason));
    device.chunks = {"ab\x01\\c\nok>"};
    device.bytesPerRead = 3;
    const std::string head = "2026-12-07 00:00:0";
    FakeSerial.nowMilliseconds = 1000;
    Tick();
    EXPECT_EQ(FakeLogFile.contents, head + "1.000 device   ab\\x01") << "written as it came";
    for (const unsigned long long at : {1100, 1200, 1300}) {
        FakeSerial.nowMilliseconds = at;
        Tick();
    }
    FakeSerial.nowMilliseconds = 2000;
    Type("hi");
    Type("open 9");
    EXPECT_EQ(FakeLogFile.contents, head + "1.000 device   ab\\x01\\\\c\\n\n" + head +
                                        "1.200 device   ok>\n" + head + "2.000 sent     hi\\n\n" +
                                        head + "2.000 terminal failed to connect to port 9\n");
    // A full disk stops the log, said once; the session goes on.
    FakeLogFile.room = 0;
    Type("open 9");
    Type("open 9");
    EXPECT_EQ(FakePane.output,
              "ab\x01\\c\r\nok>\r\nfailed to connect to port 9\nfailed to connect to port 9\n"
              "the log stopped: session.log: No space left on device\n"
              "failed to connect to port 9\n");
    EXPECT_EQ(LogPath(), nullptr);
}

// From the moment it is switched on each line starts with its time, and the device's bytes
// show as rows of hex that go on across a chunk's reads; a new chunk starts a new row.
TEST(OutputPaneTest, TimesAndHexRowsShowWhatCameAndWhen) {
    ResetCore();
    FakeDevice& device = Connect();
    TerminalSession.ShowTimes = true;
    FakeSerial.nowMilliseconds = 3723004; // 01:02:03.004
    device.chunks = {"one\ntwo", "0123456789abcdefghi", "+"};
    device.bytesPerRead = 10;
    Tick();
    ShowBytesInHex(true);
    for (int tick = 0; tick < 4; ++tick) {
        Tick();
    }
    EXPECT_EQ(FakePane.output,
              "01:02:03.004 one\r\n01:02:03.004 two\r\n"
              "01:02:03.004 30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  |0123456789abcdef|\r\n"
              "01:02:03.004 67 68 69                                          |ghi|\r\n"
              "01:02:03.004 2b                                                |+|\r\n");
}

TEST(OutputPaneTest, AFullPaneGivesUpItsOldestWholeLinesOrElseItsOldestText) {
    ResetCore();
    // Numbered lines of 100 characters, to 3 short of the limit: up to it all is kept.
    std::string full;
    for (int line = 0; full.size() < OutputPaneLimit; ++line) {
        full += std::to_string(line) + std::string(98 - std::to_string(line).size(), '.') + "\r\n";
    }
    full.resize(OutputPaneLimit - 3);
    AppendOutput(full.c_str());
    AppendOutput("abc");
    full += "abc";
    ASSERT_EQ(FakePane.output, full);
    // What stays is the newest part of what was there, starting just after a line end.
    AppendOutput("newest");
    const std::string kept = FakePane.output.substr(0, FakePane.output.size() - 6);
    EXPECT_GE(kept.size(), OutputPaneLimit - OutputPaneTrimBlock - OutputPaneLineSearch);
    EXPECT_LE(kept.size(), OutputPaneLimit - OutputPaneTrimBlock - 6);
    EXPECT_EQ(full.substr(full.size() - kept.size() - 2), "\r\n" + kept);

    // Without line ends the cut falls inside the text; of a huge text the newest part stays.
    AppendOutput(std::string(OutputPaneLimit, 'a').c_str());
    AppendOutput("bc");
    EXPECT_EQ(FakePane.output, std::string(OutputPaneLimit - OutputPaneTrimBlock - 2, 'a') + "bc");
    const std::string huge = "0123456789" + std::string(OutputPaneLimit, 'x') + "end";
    AppendOutput(huge.c_str());
    EXPECT_EQ(FakePane.output, huge.substr(13));
}

} // namespace
