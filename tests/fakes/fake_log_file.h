// The session log's file as a string, and a disk that fills: what the log wrote, in order.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/log_file.h"

struct FakeLogFileState {
    std::string path;
    bool open = false;
    bool refuseOpen = false;
    std::size_t room = std::string::npos;  // bytes the disk still takes
    std::string contents;                  // every byte written, in order
    std::vector<std::string> writes;       // each write's bytes
};

extern FakeLogFileState FakeLogFile;
