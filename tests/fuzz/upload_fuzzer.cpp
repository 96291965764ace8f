// Program-file contents through "rp!", then the device's answers and silences.

#include "core/input_line_commands.h"
#include "core/poll_cycle.h"
#include "core/upload.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr const char* Port = "\\\\.\\COM1";

// What the device may be sent: the file with CR LF joined, up to its first 0x1A.
std::string SendableText(const std::string& file) {
    std::string text;
    for (std::size_t i = 0; i < file.size() && file[i] != 0x1A; ++i) {
        const bool crBeforeLf = file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n';
        if (!crBeforeLf) {
            text += file[i];
        }
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    ResetTerminal();
    FuzzInput input(data, size);
    const std::size_t fileLength = input.Byte() * 16u + input.Byte();
    const std::string file = input.Bytes(fileLength);
    WriteProgramFile(file);
    Device(Port);
    TerminalSession.PortHandle = OpenPort(Port);
    FakePane.input = "rp!";
    FUZZ_CHECK(ExecuteInputLine(false));
    FUZZ_CHECK(TerminalSession.Uploading);

    const std::string sendable = SendableText(file);
    std::size_t checkedWrites = 0;
    std::size_t offset = 0;
    auto checkWrites = [&] {
        const std::vector<std::string>& writes = Device(Port).writes;
        for (; checkedWrites < writes.size(); ++checkedWrites) {
            const std::string& piece = writes[checkedWrites];
            FUZZ_CHECK(piece.size() <= UploadLineCapacity - 1);
            // Every piece is file text, and never earlier in the file than the one before.
            offset = sendable.find(piece, offset);
            FUZZ_CHECK(offset != std::string::npos);
        }
        if (TerminalSession.Uploading) {
            FUZZ_CHECK(TerminalSession.RetryCount <= UploadRetryLimit);
        }
    };
    checkWrites();
    while (!input.Done()) {
        const std::string chunk = input.Bytes(input.Byte() % 8);
        if (!chunk.empty()) {
            Device(Port).chunks.push_back(chunk);
        }
        PollTick();
        checkWrites();
    }
    // Silence ends every upload: five time-outs of ten ticks at the most.
    for (int tick = 0; tick < 5 * 10; ++tick) {
        PollTick();
    }
    checkWrites();
    FUZZ_CHECK(!TerminalSession.Uploading);
    FUZZ_CHECK(TerminalSession.UploadFile == nullptr);
    return 0;
}
