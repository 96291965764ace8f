// Drives the terminal core through its front door (PollTick, ExecuteInputLine) over the fake
// serial link and the fake pane.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/input_line_commands.h"
#include "core/poll_cycle.h"
#include "core/terminal_session.h"
#include "tests/fakes/fake_pane.h"
#include "tests/fakes/fake_serial.h"

class CoreTest : public testing::Test {
  protected:
    // The name the core gives port 3, and the one used as "the device" throughout.
    static constexpr const char* Com3 = "\\\\.\\COM3";

    // Also called again inside a test to start over with a second case.
    void SetUp() override {
        CloseUploadFile();
        ResetFakeSerial();
        ResetFakePane();
        TerminalSession = TerminalSessionRecord{};
    }

    void TearDown() override {
        CloseUploadFile();
        for (const std::string& path : files_) {
            std::remove(path.c_str());
        }
    }

    // Types a line and presses Enter; returns whether it was a local command.
    bool Type(const std::string& line, bool leftCtrlHeld = false) {
        FakePane.input = line;
        return ExecuteInputLine(leftCtrlHeld);
    }

    // Opens COM3 with a device behind it.
    FakeDevice& Connect() {
        FakeDevice& device = Device(Com3);
        Type("open 3");
        FakePane.output.clear();
        FakePane.inserts = 0;
        return device;
    }

    // The device sends one chunk, read by the next tick.
    void Receive(const std::string& bytes) {
        Device(FakeSerial.openName).chunks.push_back(bytes);
        PollTick();
    }

    void TicksWithoutData(int count) {
        for (int i = 0; i < count; ++i) {
            PollTick();
        }
    }

    // Writes a program file and names it as the command line would.
    std::string ProgramFile(const std::string& contents) {
        std::string path = testing::TempDir() + "varnoth_program_" + std::to_string(files_.size()) +
                           "_" + testing::UnitTest::GetInstance()->current_test_info()->name();
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(contents.data(), 1, contents.size(), file);
        std::fclose(file);
        files_.push_back(path);
        SetUploadPath(path.c_str());
        return path;
    }

  private:
    static void CloseUploadFile() {
        if (TerminalSession.UploadFile != nullptr) {
            std::fclose(TerminalSession.UploadFile);
            TerminalSession.UploadFile = nullptr;
        }
    }

    std::vector<std::string> files_;
};
