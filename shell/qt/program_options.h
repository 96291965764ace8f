// The Linux program's command line: options first (--console, --log FILE, --list-ports, --help,
// --version), "--" ends them, and the words after them are the program file's path, joined by
// single blanks so that an unquoted path with blanks still names its file. Qt's own options are
// not read: they would be part of the path; its environment variables still apply.
#pragma once

#include <string>

// A bad command line, as the usage says.
constexpr int ExitUsage = 2;

struct ProgramOptions {
    bool console = false;
    const char* logPath = nullptr;
    std::string programPath;
};

// Reads the command line into `options`. Answers --list-ports, --help and --version on standard
// output, without a display, and a usage error in a line on standard error; returns the exit
// status then, or -1 when the terminal is to run.
int ReadProgramOptions(int argc, char** argv, ProgramOptions* options);
