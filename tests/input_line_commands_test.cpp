// Which typed lines are local commands: "rp!" and "clear" exactly, "open" as a prefix. How the
// others go out is compared with a model in upload_test.cpp.
#include <gtest/gtest.h>

#include "tests/core_driver.h"

namespace {

TEST(InputLineCommandsTest, OnlyExactCommandsAreLocalAndOtherLinesGoOutAsTyped) {
    const std::string shown = "hi\r\n"; // what the device sent before the line was typed
    struct Case {
        std::string typed;
        bool local;
        std::string sent, pane;
    };
    std::vector<Case> cases = {
        {"clear", true, "", ""},
        {"rp!", true, "", shown + "no program to upload found!!!\n"},
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

} // namespace
