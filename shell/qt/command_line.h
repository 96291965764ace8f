// The program's arguments: an option, or the program file's path.
#pragma once

#include <string>

// An option is recognised only as the sole argument, so that every other command line keeps
// naming a program file.
enum class CommandLineOption { None, ListPorts, Help, Version };
CommandLineOption SoleOption(int argc, const char* const* argv);

// "--console" as the first argument asks for the text console; the arguments after it name the
// program file as ProgramFilePath says.
bool ConsoleAsked(int argc, const char* const* argv);

// Every argument after the program's name belongs to the path, joined by single blanks, so
// that an unquoted path with blanks still names its file: `varnoth-terminal my program.txt`
// and `varnoth-terminal "my program.txt"` give the same path. Runs of blanks in an unquoted
// path become one blank (the shell has already split them away); quote such a path. A first
// argument "--" is left out, so that a path that looks like an option can be given. No
// arguments give the empty path: no program file.
std::string ProgramFilePath(int argc, const char* const* argv);
