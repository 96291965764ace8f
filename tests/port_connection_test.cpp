#include "tests/core_fixture.h"

#include <limits>

#include "core/port_connection.h"

namespace {

using PortConnectionTest = CoreTest;

std::string ComName(int number) {
    return "\\\\.\\COM" + std::to_string(number);
}

TEST_F(PortConnectionTest, ReportsTheOutcomeWithTheArgumentAsTyped) {
    Device(ComName(3));
    EXPECT_TRUE(Type("open 3"));
    EXPECT_EQ(FakePane.output, "connected to port 3\n");
    EXPECT_EQ(FakeSerial.openName, ComName(3));

    FakePane.output.clear();
    Type("open 4");
    EXPECT_EQ(FakePane.output, "failed to connect to port 4\n");
    EXPECT_EQ(TerminalSession.PortHandle, InvalidPortHandle);
    EXPECT_EQ(FakeSerial.closed, std::vector<std::string>{ComName(3)});

    FakePane.output.clear();
    Device(ComName(12));
    Type("open\t12 and more");
    EXPECT_EQ(FakePane.output, "connected to port\t12 and more\n");
    EXPECT_EQ(FakeSerial.openName, ComName(12));
}

TEST_F(PortConnectionTest, ThePlatformsReasonFollowsAFailedOpenButNotAFailedDetection) {
    FakeSerial.failureReason = "/dev/ttyUSB0: in use by another program\n";
    Type("open 4");
    EXPECT_EQ(FakePane.output, "failed to connect to port 4\n" + FakeSerial.failureReason);
    FakePane.output.clear();
    Type("open 0");
    EXPECT_EQ(FakePane.output, "failed to connect to port 0\n") << "not one reason per port tried";
}

TEST_F(PortConnectionTest, AnEmptyArgumentShowsHowToUseIt) {
    Device(ComName(3));
    Type("open 3");
    FakePane.output.clear();
    Type("open");
    EXPECT_EQ(FakePane.output, "use: open n to connect\n");
    EXPECT_EQ(TerminalSession.PortHandle, InvalidPortHandle) << "the old port is closed first";
}

TEST_F(PortConnectionTest, NumbersFromTwentyFiveUpOpenNothingAndSayNothing) {
    Device(ComName(3));
    Type("open 3");
    FakePane.output.clear();
    for (const char* line : {"open 25", "open 30", "open 2147483647"}) {
        Type(line);
        EXPECT_EQ(FakePane.output, "") << line;
        EXPECT_EQ(TerminalSession.PortHandle, InvalidPortHandle) << line;
    }
    EXPECT_EQ(FakeSerial.opened, std::vector<std::string>{ComName(3)});
}

TEST_F(PortConnectionTest, NegativeNumbersNameDevicesThatDoNotExist) {
    Type("open -1");
    EXPECT_EQ(FakePane.output, "failed to connect to port -1\n");
    Device("\\\\.\\COM-7");
    Type("open -7");
    EXPECT_EQ(FakeSerial.openName, "\\\\.\\COM-7") << "the name is built as the number reads";
}

TEST_F(PortConnectionTest, ParsesLikeTheDeviceToolsDo) {
    EXPECT_EQ(ParsePortNumber(" 3"), 3);
    EXPECT_EQ(ParsePortNumber(" 3x"), 3);
    EXPECT_EQ(ParsePortNumber("\t\n\v\f\r +12"), 12);
    EXPECT_EQ(ParsePortNumber(" -4"), -4);
    EXPECT_EQ(ParsePortNumber(" - 4"), 0) << "no blank between sign and digits";
    EXPECT_EQ(ParsePortNumber(" +-4"), 0);
    EXPECT_EQ(ParsePortNumber(""), 0);
    EXPECT_EQ(ParsePortNumber(" x7"), 0);
    EXPECT_EQ(ParsePortNumber("ed"), 0);
    // 32-bit arithmetic that wraps: 2^32 + 3 is 3, 2^31 is the most negative number.
    EXPECT_EQ(ParsePortNumber(" 4294967299"), 3);
    EXPECT_EQ(ParsePortNumber(" 2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(ParsePortNumber(" -2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(ParsePortNumber(" 99999999999999999999"), static_cast<std::int32_t>(1661992959));
}

TEST_F(PortConnectionTest, AWrappedNumberOpensThatPortAndEchoesTheArgument) {
    Device(ComName(3));
    Type("open 4294967299");
    EXPECT_EQ(FakeSerial.openName, ComName(3));
    EXPECT_EQ(FakePane.output, "connected to port 4294967299\n");
}

TEST_F(PortConnectionTest, DetectionKeepsTheFirstPortWhoseDeviceIdentifiesItself) {
    Device(ComName(2)).identityReply = "ok";
    Device(ComName(5)).busy = true;
    Device(ComName(7)).identityReply = "TELK7 1.0\r\n";
    Device(ComName(9)).identityReply = "TELK7";
    EXPECT_TRUE(Type("open 0"));
    EXPECT_EQ(FakeSerial.openName, ComName(7));
    EXPECT_EQ(FakeSerial.opened, (std::vector<std::string>{ComName(2), ComName(7)}));
    EXPECT_EQ(FakeSerial.closed, std::vector<std::string>{ComName(2)});
    EXPECT_EQ(Device(ComName(2)).received, "id\n");
    EXPECT_EQ(FakePane.output, "") << "a match is silent and its reply is not shown";
    EXPECT_EQ(FakeSerial.sleptMilliseconds, 1000u) << "each probe waits half a second";
    PollTick();
    EXPECT_EQ(FakePane.output, "");
}

TEST_F(PortConnectionTest, APromptCharacterAlsoIdentifiesTheDevice) {
    Device(ComName(0)).identityReply = "ok>";
    Type("opened");
    EXPECT_EQ(FakeSerial.openName, ComName(0));
}

TEST_F(PortConnectionTest, DetectionWithoutAMatchReportsTheArgumentAndLeavesNoPort) {
    Device(ComName(1)).identityReply = "hello";
    Device(ComName(24)).identityReply = "telk7";
    Device(ComName(25)).identityReply = "TELK7";
    // Text after a NUL in the reply is not looked at.
    Device(ComName(4)).identityReply = std::string("ok\0TELK7", 8);
    Type("open x");
    EXPECT_EQ(FakePane.output, "failed to connect to port x\n");
    EXPECT_EQ(TerminalSession.PortHandle, InvalidPortHandle);
    EXPECT_EQ(FakeSerial.opened, (std::vector<std::string>{ComName(1), ComName(4), ComName(24)}));
    EXPECT_EQ(FakeSerial.closed, FakeSerial.opened);
}

TEST_F(PortConnectionTest, ALateReplyDoesNotMatchAndIsNeverShown) {
    FakeDevice& device = Device(ComName(1));
    device.chunks = {"", "TELK7"}; // nothing within the probe's read, then the reply
    Type("open  ");
    EXPECT_EQ(FakeSerial.closed, std::vector<std::string>{ComName(1)});
    EXPECT_EQ(FakePane.output, "failed to connect to port  \n");
}

TEST_F(PortConnectionTest, AProbeDuringAnUploadSwallowsTheAnswers) {
    FakeDevice& device = Device(ComName(3));
    Type("open 3");
    ProgramFile("A\nB\n");
    Type("rp!");
    // The device acknowledges and then answers the probe, all within the probe's read.
    FakeDevice& detected = Device(ComName(0));
    detected.chunks.push_back("+>");
    Type("open 0");
    EXPECT_EQ(FakeSerial.openName, ComName(0));
    EXPECT_EQ(detected.writes, std::vector<std::string>{"id\n"});
    EXPECT_EQ(device.writes, std::vector<std::string>{"A\n"});
    EXPECT_TRUE(TerminalSession.Uploading);
    EXPECT_EQ(TerminalSession.RetryCount, 0);
}

} // namespace
