// The program file's path from the program's arguments.
#pragma once

#include <string>

// Every argument after the program's name belongs to the path, joined by single blanks, so
// that an unquoted path with blanks still names its file: `varnoth-terminal my program.txt`
// and `varnoth-terminal "my program.txt"` give the same path. Runs of blanks in an unquoted
// path become one blank (the shell has already split them away); quote such a path. No
// arguments give the empty path: no program file.
std::string ProgramFilePath(int argc, const char* const* argv);
