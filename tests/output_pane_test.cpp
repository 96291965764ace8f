#include "tests/core_fixture.h"

#include "core/pane.h"

namespace {

using OutputPaneTest = CoreTest;

// Fills the pane to exactly `length` characters with numbered lines of 100 characters.
void FillPane(std::size_t length) {
    std::string text;
    for (std::size_t line = 0; text.size() < length; ++line) {
        std::string number = std::to_string(line);
        text += number + std::string(98 - number.size(), '.') + "\r\n";
    }
    text.resize(length);
    AppendOutput(text.c_str());
}

TEST_F(OutputPaneTest, TextUpToTheLimitIsKeptWhole) {
    FillPane(OutputPaneLimit - 3);
    AppendOutput("abc");
    EXPECT_EQ(FakePane.output.size(), OutputPaneLimit);
    EXPECT_EQ(FakePane.output.substr(0, 5), "0....");
    EXPECT_EQ(FakePane.output.substr(OutputPaneLimit - 3), "abc");
}

TEST_F(OutputPaneTest, AFullPaneGivesUpItsOldestWholeLinesForNewText) {
    FillPane(OutputPaneLimit);
    const std::string before = FakePane.output;
    AppendOutput("newest");
    const std::string& after = FakePane.output;
    ASSERT_LE(after.size(), OutputPaneLimit);
    ASSERT_GE(after.size(), OutputPaneLimit - OutputPaneTrimBlock - OutputPaneLineSearch);
    EXPECT_EQ(after.substr(after.size() - 6), "newest");
    // What stays is the newest part of what was there, starting at a line.
    const std::string kept = after.substr(0, after.size() - 6);
    EXPECT_EQ(before.substr(before.size() - kept.size()), kept);
    EXPECT_EQ(before.substr(before.size() - kept.size() - 2, 2), "\r\n");
}

TEST_F(OutputPaneTest, WithoutLineEndsTheCutFallsInsideTheText) {
    AppendOutput(std::string(OutputPaneLimit, 'a').c_str());
    AppendOutput("bc");
    EXPECT_EQ(FakePane.output.size(), OutputPaneLimit - OutputPaneTrimBlock);
    EXPECT_EQ(FakePane.output.substr(FakePane.output.size() - 3), "abc");
}

TEST_F(OutputPaneTest, AnAppendLargerThanThePaneKeepsItsNewestPart) {
    FillPane(1000);
    std::string huge(OutputPaneLimit + 10, 'x');
    huge.replace(0, 10, "0123456789");
    huge.replace(huge.size() - 3, 3, "end");
    AppendOutput(huge.c_str());
    EXPECT_EQ(FakePane.output.size(), OutputPaneLimit);
    EXPECT_EQ(FakePane.output.substr(0, 3), "xxx");
    EXPECT_EQ(FakePane.output.substr(OutputPaneLimit - 3), "end");
}

TEST_F(OutputPaneTest, AStreamingDeviceNeverOverfillsThePaneAndTheNewestTextShows) {
    FakeDevice& device = Connect();
    for (int chunk = 0; chunk < 100; ++chunk) {
        device.chunks.push_back(std::string(30000, 'a' + chunk % 26) + "\n");
        PollTick();
        ASSERT_LE(FakePane.output.size(), OutputPaneLimit);
    }
    const std::string last = std::string(30000, 'a' + 99 % 26) + "\r\n\r\n";
    EXPECT_EQ(FakePane.output.substr(FakePane.output.size() - last.size()), last);
    EXPECT_GE(FakePane.output.size(), OutputPaneLimit - OutputPaneTrimBlock - 30004);
}

TEST_F(OutputPaneTest, ClearMakesRoomAgain) {
    FillPane(OutputPaneLimit);
    ClearOutput();
    EXPECT_EQ(FakePane.output, "");
    AppendOutput("x");
    EXPECT_EQ(FakePane.output, "x");
}

} // namespace
