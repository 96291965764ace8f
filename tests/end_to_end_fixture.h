// The terminal core over the real POSIX serial link and the fake pane, with a throwaway ports
// directory in which tests link simulated devices as numbered ports.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/input_line_commands.h"
#include "core/poll_cycle.h"
#include "core/terminal_session.h"
#include "tests/fakes/fake_pane.h"
#include "tests/simulated_device.h"

class EndToEndTest : public testing::Test {
  protected:
    void SetUp() override {
        ResetFakePane();
        TerminalSession = TerminalSessionRecord{};
        ports_.ClaimAllAsMissing(25);
        record_ = ports_.Path() + "/received.bin";
    }
    void TearDown() override {
        if (TerminalSession.PortHandle != InvalidPortHandle) {
            ClosePort(TerminalSession.PortHandle);
        }
        if (TerminalSession.UploadFile != nullptr) {
            std::fclose(TerminalSession.UploadFile);
        }
    }

    bool Type(const std::string& line) {
        FakePane.input = line;
        return ExecuteInputLine(false);
    }

    // Ticks until the pane holds `text` or the tick budget runs out; each tick with a port
    // open waits out the device's silence, so the budget is counted in ticks, not time.
    bool TickUntilPaneHas(const std::string& text, int ticks = 100) {
        for (int i = 0; i < ticks && FakePane.output.find(text) == std::string::npos; ++i) {
            PollTick();
        }
        return FakePane.output.find(text) != std::string::npos;
    }

    void TickUntilUploadEnds(int ticks = 2000) {
        for (int i = 0; i < ticks && TerminalSession.Uploading; ++i) {
            PollTick();
        }
    }

    std::string ProgramFile(const std::string& contents) {
        const std::string path = ports_.Path() + "/program.txt";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(contents.data(), 1, contents.size(), file);
        std::fclose(file);
        SetUploadPath(path.c_str());
        return path;
    }

    PortsDirectory ports_;
    std::string record_;
};
