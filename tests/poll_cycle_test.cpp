// The poll cycle against a compact model of the plain chunk rule: the device's bytes are cut
// into chunks at every silence and every ReceiveCapacity - 1 bytes, and each chunk is handed
// to the upload and shown whole. The core reads the same stream in pieces cut short by the
// tick's time budget; the pane and every upload transmission must come out the same.
#include "tests/core_fixture.h"
#include "tests/upload_model.h"

#include <random>

#include "core/pane.h"

namespace {

using namespace std::string_literals;

// The pane text of one chunk: LF widened to CR LF; XON, XOFF and NUL left out.
std::string Shown(const std::string& chunk) {
    std::string text;
    for (char byte : chunk) {
        if (byte == '\n') {
            text += "\r\n";
        } else if (byte != 0x11 && byte != 0x13 && byte != '\0') {
            text += byte;
        }
    }
    return text;
}

class ChunkRuleModel {
  public:
    explicit ChunkRuleModel(const std::string& file) : upload(file) {}

    // Bytes that arrive without a pause, followed by the silence that ends them.
    void Burst(const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size(); at += ReceiveCapacity - 1) {
            const std::string chunk = bytes.substr(at, ReceiveCapacity - 1);
            upload.Receive(chunk);
            pane += Shown(chunk);
            if (!upload.Active()) {
                pane += "\r\n";
            }
        }
    }

    UploadModel upload;
    std::string pane;
};

class PollCycleTest : public CoreTest {
  protected:
    std::string RandomBurst(std::mt19937& random) {
        static const std::string alphabet = "ab\n\r\0\x11\x13+-*>x "s;
        const int size = Pick(random, 0, 49);
        // Mostly a few bytes, as answers and replies are; now and then a stream that lasts
        // many ticks or fills more than a chunk.
        const std::size_t length = size < 40   ? Pick(random, 1, 30)
                                   : size < 48 ? Pick(random, 100, 5000)
                                               : Pick(random, 60000, 140000);
        std::string burst;
        const bool onlyLineFeeds = size == 49 && Pick(random, 0, 3) == 0;
        for (std::size_t i = 0; i < length; ++i) {
            burst += onlyLineFeeds ? '\n' : alphabet[Pick(random, 0, alphabet.size() - 1)];
        }
        return burst;
    }

    static std::size_t Pick(std::mt19937& random, std::size_t low, std::size_t high) {
        return std::uniform_int_distribution<std::size_t>(low, high)(random);
    }
};

TEST_F(PollCycleTest, ReadingInTimedPiecesShowsAndUploadsExactlyWhatWholeChunksWould) {
    std::mt19937 random(20261207);
    std::size_t cutReads = 0;
    for (int run = 0; run < 300; ++run) {
        SetUp();
        FakeDevice& device = Connect();
        const std::string file =
            "first\nsecond\r\nthird\n" + std::string(Pick(random, 0, 1500), 'y');
        ProgramFile(file);
        ChunkRuleModel model(file);
        for (int event = 0; event < 60 && model.pane.size() < 500000; ++event) {
            const std::size_t kind = Pick(random, 0, 9);
            if (kind == 0) {
                ASSERT_TRUE(Type("rp!"));
                model.upload.Start();
            } else if (kind < 4) {
                PollTick();
                model.upload.IdleTick();
            } else {
                const std::string burst = RandomBurst(random);
                model.Burst(burst);
                device.chunks.push_back(burst);
                while (!device.chunks.empty()) {
                    // A read cut short at the very end of the burst leaves the silence after
                    // it to the next tick, which is then a idle tick in both accounts.
                    if (device.chunks.front().empty()) {
                        model.upload.IdleTick();
                    }
                    device.bytesPerRead = Pick(random, 0, 3) == 0 ? 0 : Pick(random, 1, 4000);
                    PollTick();
                    cutReads += device.chunks.empty() ? 0 : 1;
                }
            }
            ASSERT_EQ(bool(TerminalSession.Uploading), model.upload.Active())
                << "run " << run << " event " << event;
        }
        ASSERT_EQ(FakePane.output, model.pane) << "run " << run;
        ASSERT_EQ(device.writes, model.upload.Sends()) << "run " << run;
    }
    // The generator must cut chunks into many pieces, or the comparison proves little.
    EXPECT_GT(cutReads, 2000u);
}

TEST_F(PollCycleTest, AChunkThatSpansTicksShowsAtOnceAndEndsItsLineWhenTheLineGoesQuiet) {
    FakeDevice& device = Connect();
    device.bytesPerRead = 3;
    device.chunks = {"abcdefg"};
    PollTick();
    EXPECT_EQ(FakePane.output, "abc");
    PollTick();
    EXPECT_EQ(FakePane.output, "abcdef");
    PollTick();
    EXPECT_EQ(FakePane.output, "abcdefg\r\n");

    // A port closed in the middle of a chunk ends its line before the command reports.
    FakePane.output.clear();
    device.chunks = {"hij"};
    device.bytesPerRead = 2;
    PollTick();
    Type("open 3");
    EXPECT_EQ(FakePane.output, "hi\r\nconnected to port 3\n");
}

TEST_F(PollCycleTest, TheTenthIdleTickInARowAsksForTheLineAgain) {
    FakeDevice& device = Connect();
    ProgramFile("A\nB\n");
    Type("rp!");
    TicksWithoutData(9);
    EXPECT_EQ(device.writes.size(), 1u);
    PollTick();
    EXPECT_EQ(device.writes, (std::vector<std::string>{"A\n", "A\n"}));

    // Any byte in between starts the count again, even one that is no answer at all.
    TicksWithoutData(9);
    Receive("\x11");
    TicksWithoutData(9);
    EXPECT_EQ(device.writes.size(), 2u);
    PollTick();
    EXPECT_EQ(device.writes.size(), 3u);
}

TEST_F(PollCycleTest, AnUploadWithoutAPortEndsOnTheFiftiethIdleTick) {
    ProgramFile("A\n");
    Type("rp!");
    ASSERT_TRUE(TerminalSession.Uploading);
    TicksWithoutData(49);
    EXPECT_TRUE(TerminalSession.Uploading);
    PollTick();
    EXPECT_FALSE(TerminalSession.Uploading);
    EXPECT_EQ(TerminalSession.UploadFile, nullptr);
    EXPECT_EQ(FakeSerial.writesWithoutPort, 5) << "the first send and four repeats";
    EXPECT_EQ(FakePane.output, "");
}

} // namespace
