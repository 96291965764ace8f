// Device bytes through PollTick, with and without an upload running.

#include "core/poll_cycle.h"
#include "core/upload.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    ResetTerminal();
    FuzzInput input(data, size);
    const unsigned flags = input.Byte();
    const bool withPort = (flags & 1) != 0;
    if (withPort) {
        Device("\\\\.\\COM1");
        TerminalSession.PortHandle = OpenPort("\\\\.\\COM1");
    }
    if ((flags & 2) != 0) {
        WriteProgramFile("first line\nsecond line\r\nthird\n" + std::string(1500, 'x') + "\n");
        FUZZ_CHECK(StartUpload() == ResultSuccess);
    }
    while (!input.Done()) {
        // A length of 0 is a idle tick; otherwise that many bytes arrive as one chunk.
        const std::string chunk = input.Bytes(input.Byte());
        if (!chunk.empty() && withPort) {
            Device("\\\\.\\COM1").chunks.push_back(chunk);
        }
        const bool uploadingBefore = TerminalSession.Uploading != 0;
        const std::string paneBefore = FakePane.output;
        const std::size_t sentBefore = withPort ? Device("\\\\.\\COM1").received.size() : 0;
        PollTick();
        if (withPort && !uploadingBefore) {
            FUZZ_CHECK(Device("\\\\.\\COM1").received.size() == sentBefore);
        }
        FUZZ_CHECK(FakePane.output.size() <= OutputPaneLimit);
        if (TerminalSession.Uploading) {
            FUZZ_CHECK(TerminalSession.RetryCount <= UploadRetryLimit);
            FUZZ_CHECK(TerminalSession.UploadFile != nullptr);
        } else {
            FUZZ_CHECK(TerminalSession.UploadFile == nullptr);
        }
        if (chunk.empty() || !withPort) {
            FUZZ_CHECK(FakePane.output == paneBefore);
            continue;
        }
        std::string shown = ExpectedDisplay(chunk);
        if (!TerminalSession.Uploading) {
            shown += "\r\n";
        }
        FUZZ_CHECK(FakePane.output == paneBefore + shown);
    }
    if (!withPort) {
        FUZZ_CHECK(FakeSerial.devices.empty());
    }
    return 0;
}
