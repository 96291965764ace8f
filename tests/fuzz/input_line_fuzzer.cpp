// Typed lines through ExecuteInputLine: commands, detection, text sent to the device.
#include <cstring>

#include "core/input_line_commands.h"
#include "core/poll_cycle.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool IsLocalCommand(const std::string& text) {
    return text.compare(0, 4, "open") == 0 || text == "rp!" || text == "clear";
}

// Devices behind a few ports; the one on port 0 and port 9 identify themselves.
void MakeDevices() {
    for (int number : {0, 1, 2, 9, 24}) {
        Device("\\\\.\\COM" + std::to_string(number));
    }
    Device("\\\\.\\COM0").identityReply = "TELK7\n";
    Device("\\\\.\\COM9").identityReply = "ok>";
    Device("\\\\.\\COM2").busy = true;
}

std::size_t TotalReceived() {
    std::size_t total = 0;
    for (const auto& entry : FakeSerial.devices) {
        total += entry.second.received.size();
    }
    return total;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    ResetTerminal();
    MakeDevices();
    FuzzInput input(data, size);
    if ((input.Byte() & 1) != 0) {
        WriteProgramFile("10 REM\n20 END\n");
    }
    while (!input.Done()) {
        const unsigned control = input.Byte();
        const std::string line = input.Bytes(control >> 1);
        const bool leftCtrl = (control & 1) != 0;
        // What the core can read: up to the first NUL, at most 255 characters.
        const std::string text = line.substr(0, std::min(line.find('\0'), InputLineCapacity - 1));
        const std::string openBefore = FakeSerial.openName;
        const std::size_t receivedBefore =
            openBefore.empty() ? 0 : Device(openBefore).received.size();
        const std::size_t totalBefore = TotalReceived();

        FakePane.input = line;
        const bool local = ExecuteInputLine(leftCtrl);

        FUZZ_CHECK(local == IsLocalCommand(text));
        FUZZ_CHECK(FakePane.input.empty());
        FUZZ_CHECK(FakePane.output.size() <= OutputPaneLimit);
        if (!local && openBefore.empty()) {
            FUZZ_CHECK(TotalReceived() == totalBefore);
        } else if (!local) {
            const std::string expected = text + (leftCtrl ? "" : "\n");
            const std::string& received = Device(openBefore).received;
            FUZZ_CHECK(received.size() == receivedBefore + expected.size());
            FUZZ_CHECK(received.compare(receivedBefore, expected.size(), expected) == 0);
        }
        if (text.compare(0, 4, "open") == 0) {
            // A failed open leaves no port; a successful one is the only port open.
            FUZZ_CHECK((TerminalSession.PortHandle == InvalidPortHandle) ==
                       FakeSerial.openName.empty());
        }
        PollTick();
    }
    return 0;
}
