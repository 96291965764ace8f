// The core and the independent model of the upload, side by side on seeded random files and
// answers: every transmission and every end must agree.
#include "tests/core_fixture.h"
#include "tests/upload_model.h"

#include <random>

namespace {

using namespace std::string_literals;

class UploadModelTest : public CoreTest {
  protected:
    std::string RandomFile(std::mt19937& random) {
        static const std::string alphabet = "ab\n\n\r\r\0\x1a+-*"s;
        std::string file;
        const int runs = std::uniform_int_distribution<int>(0, 12)(random);
        for (int run = 0; run < runs; ++run) {
            // Mostly short lines, now and then one far past a piece's length.
            const bool longRun = std::uniform_int_distribution<int>(0, 9)(random) == 0;
            const int length = std::uniform_int_distribution<int>(0, longRun ? 3000 : 12)(random);
            for (int i = 0; i < length; ++i) {
                const bool special =
                    std::uniform_int_distribution<int>(0, longRun ? 200 : 3)(random) == 0;
                file += special ? alphabet[std::uniform_int_distribution<std::size_t>(
                                      0, alphabet.size() - 1)(random)]
                                : 'x';
            }
            if (std::uniform_int_distribution<int>(0, 2)(random) != 0) {
                file += std::uniform_int_distribution<int>(0, 3)(random) == 0 ? "\r\n" : "\n";
            }
        }
        return file;
    }

    std::string RandomChunk(std::mt19937& random) {
        static const std::string answers = "++++---*>\x11\x13?T\0xx"s;
        std::string chunk;
        const int length = std::uniform_int_distribution<int>(1, 3)(random);
        for (int i = 0; i < length; ++i) {
            chunk +=
                answers[std::uniform_int_distribution<std::size_t>(0, answers.size() - 1)(random)];
        }
        return chunk;
    }
};

TEST_F(UploadModelTest, TheCoreAgreesWithTheModelOnRandomFilesAndAnswers) {
    std::mt19937 random(20261206);
    int transmissions = 0;
    for (int run = 0; run < 3000; ++run) {
        SetUp();
        FakeDevice& device = Connect();
        const std::string file = RandomFile(random);
        ProgramFile(file);
        UploadModel model(file);
        ASSERT_TRUE(Type("rp!"));
        model.Start();
        for (int event = 0; event < 400 && model.Active(); ++event) {
            const int kind = std::uniform_int_distribution<int>(0, 19)(random);
            if (kind == 0) {
                // A restart from the first line; the quiet-tick count carries on.
                Type("rp!");
                model.Start();
            } else if (kind < 4) {
                PollTick();
                model.IdleTick();
            } else {
                const std::string chunk = RandomChunk(random);
                Receive(chunk);
                model.Receive(chunk);
            }
            ASSERT_EQ(bool(TerminalSession.Uploading), model.Active())
                << "run " << run << " event " << event;
            if (TerminalSession.Uploading) {
                ASSERT_LE(TerminalSession.RetryCount, 4);
            }
        }
        ASSERT_EQ(device.writes, model.Sends()) << "run " << run;
        ASSERT_EQ(TerminalSession.UploadFile == nullptr, !model.Active());
        transmissions += static_cast<int>(device.writes.size());
    }
    // The generator must reach well past the first line, or the comparison proves little.
    EXPECT_GT(transmissions, 3000 * 3);
}

} // namespace
