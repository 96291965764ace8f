#include "shell/qt/command_line.h"

std::string ProgramFilePath(int argc, const char* const* argv) {
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            path += ' ';
        }
        path += argv[i];
    }
    return path;
}
