#include "tests/core_fixture.h"

namespace {

using InputLineCommandsTest = CoreTest;

TEST_F(InputLineCommandsTest, ALineIsSentAsTypedWithALoneLineFeed) {
    FakeDevice& device = Connect();
    EXPECT_FALSE(Type("id"));
    EXPECT_FALSE(Type(""));
    EXPECT_FALSE(Type("abc", /*leftCtrlHeld=*/true));
    EXPECT_FALSE(Type(" rp!\r"));
    EXPECT_EQ(device.received, "id\n\nabc rp!\r\n");
    EXPECT_EQ(FakePane.output, "") << "nothing sent is echoed";
    EXPECT_EQ(FakePane.input, "");
}

TEST_F(InputLineCommandsTest, OnlyExactCommandsAreLocal) {
    FakeDevice& device = Connect();
    for (const char* text : {"rp! ", "Clear", "clear all", "reopen", "Open 2", "RP!", "rp"}) {
        EXPECT_FALSE(Type(text)) << text;
    }
    EXPECT_EQ(device.received, "rp! \nClear\nclear all\nreopen\nOpen 2\nRP!\nrp\n");
    EXPECT_FALSE(TerminalSession.Uploading);
}

TEST_F(InputLineCommandsTest, OpenPrefixedWordsStartDetection) {
    Connect();
    Device("\\\\.\\COM0").identityReply = "TELK7";
    EXPECT_TRUE(Type("opened"));
    EXPECT_EQ(FakeSerial.openName, "\\\\.\\COM0");
    EXPECT_EQ(FakePane.input, "");
}

TEST_F(InputLineCommandsTest, ClearEmptiesThePaneAndSendsNothing) {
    FakeDevice& device = Connect();
    Receive("hello\n");
    EXPECT_TRUE(Type("clear"));
    EXPECT_EQ(FakePane.output, "");
    EXPECT_EQ(FakePane.input, "");
    EXPECT_TRUE(device.received.empty());
}

TEST_F(InputLineCommandsTest, OnlyTheFirst255CharactersAreRead) {
    FakeDevice& device = Connect();
    Type(std::string(300, 'q'));
    EXPECT_EQ(device.received, std::string(255, 'q') + "\n");
}

TEST_F(InputLineCommandsTest, WithoutAPortNothingIsSentOrReported) {
    Type("hello");
    Type("");
    EXPECT_EQ(FakeSerial.writesWithoutPort, 3) << "'hello', its line feed, the lone line feed";
    EXPECT_EQ(FakePane.output, "");
}

} // namespace
