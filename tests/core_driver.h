// The core driven through its front door (ExecuteInputLine, PollTick) over the fake serial link
// and pane, for core_tests and the fuzzer alike; each test starts with ResetCore().
#pragma once

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "core/input_line_commands.h"
#include "core/pane.h"
#include "core/poll_cycle.h"
#include "core/session_log.h"
#include "core/terminal_session.h"
#include "tests/fakes/fake_pane.h"
#include "tests/fakes/fake_serial.h"

inline void ResetCore() {
    StopLog();
    if (TerminalSession.UploadFile != nullptr) {
        std::fclose(TerminalSession.UploadFile);
    }
    TerminalSession = TerminalSessionRecord{};
    FakeSerial = FakeSerialState{};
    ResetFakePane();
}

// Types a line and presses Enter; returns whether it was a local command.
inline bool Type(const std::string& line, bool leftCtrlHeld = false) {
    FakePane.input = line;
    return ExecuteInputLine(leftCtrlHeld);
}

// One timer tick. Its read may not last longer than the tick: a window would stop answering
// for as long as a talking device kept it reading. During a fast upload, a tick period's look
// for what arrived, as varnoth-upload's loop makes it.
inline void Tick() {
    if (FastUploadRunning()) {
        PollArrived(PollIntervalMilliseconds);
        return;
    }
    FakeSerial.readBudgetLimit = PollIntervalMilliseconds;
    PollTick();
    FakeSerial.readBudgetLimit = UnlimitedReadBudget;
}

// Opens port 3 with a device behind it, under the name the core gives it.
inline FakeDevice& Connect() {
    FakeDevice& device = Device("\\\\.\\COM3");
    Type("open 3");
    FakePane.output.clear();
    return device;
}

// A folder of this process's own, ending in a separator: two runs at the same time must not
// overwrite each other's program files.
inline const std::string& ProgramFolder() {
    static const struct Folder {
        std::string path;
        Folder() {
            std::random_device random;
            do {
                path = std::filesystem::temp_directory_path().string() + "/varnoth_core_" +
                       std::to_string(random());
            } while (!std::filesystem::create_directory(path));
            path += "/";
        }
        ~Folder() {
            ResetCore(); // an open program file cannot be removed on Windows
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path;
}

// Writes a program file and names it as the command line would.
inline std::string ProgramFile(const std::string& contents) {
    const std::string path = ProgramFolder() + "program.txt";
    // Out of files (a core that leaks them), the upload then finds no program: a test fails.
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(contents.data(), 1, contents.size(), file);
        std::fclose(file);
    }
    SetUploadPath(path.c_str());
    return path;
}
