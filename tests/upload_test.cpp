// The upload, and what reaches it: compared with the models of tests/model_comparison.h on
// seeded random choices; and program files that cannot be read or named.
#include <gtest/gtest.h>

#include "tests/model_comparison.h"

namespace {

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
    const struct {
        std::string path;
        bool kept;
        std::string pane;
    } cases[] = {
        {"", true, noProgram},
        {folder + "missing.txt", true, noProgram},
        {folder, true, noProgram}, // a folder is no program
        {padded(UploadPathCapacity), false, noProgram},
        {padded(UploadPathCapacity - 1), true, ""}, // the longest that fits is kept whole
    };
    for (const auto& c : cases) {
        ResetCore();
        FakeDevice& device = Connect();
        EXPECT_EQ(SetUploadPath(c.path.c_str()), c.kept) << c.path;
        EXPECT_TRUE(Type("rp!"));
        EXPECT_EQ(FakePane.output, c.pane) << c.path;
        EXPECT_EQ(device.received, c.pane.empty() ? "A\n" : "") << c.path;
        EXPECT_EQ(CountProgramLines(), c.pane.empty() ? 1 : -1) << c.path;
    }
}

} // namespace
