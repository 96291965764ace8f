#include "shell/qt/command_line.h"

#include <cstring>

CommandLineOption SoleOption(int argc, const char* const* argv) {
    if (argc != 2) {
        return CommandLineOption::None;
    }
    if (std::strcmp(argv[1], "--list-ports") == 0) {
        return CommandLineOption::ListPorts;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        return CommandLineOption::Help;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        return CommandLineOption::Version;
    }
    return CommandLineOption::None;
}

bool ConsoleAsked(int argc, const char* const* argv) {
    return argc > 1 && std::strcmp(argv[1], "--console") == 0;
}

std::string ProgramFilePath(int argc, const char* const* argv) {
    const int first = argc > 1 && std::strcmp(argv[1], "--") == 0 ? 2 : 1;
    std::string path;
    for (int i = first; i < argc; ++i) {
        if (i > first) {
            path += ' ';
        }
        path += argv[i];
    }
    return path;
}
