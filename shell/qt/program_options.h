// The options the Linux program answers on standard output, without opening a window.
#pragma once

#include "shell/qt/command_line.h"

// Prints what the option asks for and returns the program's exit status.
int RunOption(CommandLineOption option);
