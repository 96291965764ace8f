// Keeping the pane within its limit: the oldest whole lines make room for new text.
#include <gtest/gtest.h>

#include "core/pane.h"
#include "tests/core_driver.h"

namespace {

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
