#include "shell/qt/program_options.h"

#include <cstdio>

#include "serial/serial_port.h"

namespace {

// In the shape help2man reads ("Usage:", "or:", "Exit status:", "Environment:"), which makes
// the manual page.
constexpr const char* HelpText = R"(Usage: varnoth-terminal [PROGRAM-FILE]
  or:  varnoth-terminal -- PROGRAM-FILE
  or:  varnoth-terminal --console [PROGRAM-FILE]
  or:  varnoth-terminal --list-ports | --help | --version

Opens the Varnoth serial terminal window (9600 baud, 8N1). PROGRAM-FILE is the file "rp!"
uploads: every argument belongs to it, joined by single blanks; after "--" it is a path
whatever it looks like. An option counts only as the sole argument; --console only first.

  --console     run in the terminal the program was started from, not in a window; without
                a display the program does so by itself
  --list-ports  show the serial ports found, with the numbers "open n" takes
  --help        show this help
  --version     show the version

In the window, "open n" connects to port n (1 to 255), "open 0" finds the device, "rp!"
uploads the program file and "clear" empties the pane.

In the text console the same lines do the same. Enter runs the line, Up and Down bring back
the lines entered, and Alt+Enter sends a line without its line feed (the window's left
Ctrl+Enter: a terminal does not tell the left Ctrl key from the right). Ctrl+C empties the
line; Ctrl+D on an empty line, or Ctrl+C twice, quits; Ctrl+Z suspends. With standard input
or output not a terminal, each line read runs as if typed, what the device sends goes to
standard output and the terminal's words to standard error; at the end of the input the
program waits for an upload to end and for the device to be quiet for a second.

Exit status:
  0    the window was closed, the console quit, or an option was answered

Environment:
  VARNOTH_PORTS_DIR    folder of links com1 ... com255 that give devices their numbers
                       (default $XDG_CONFIG_HOME/varnoth/ports or ~/.config/varnoth/ports)
  VARNOTH_DEVICE_ROOT  folder holding dev/ and sys/ to find devices in instead of the
                       machine's own (for tests and demonstrations)
)";

} // namespace

int RunOption(CommandLineOption option) {
    switch (option) {
    case CommandLineOption::ListPorts:
        return PrintPortTable();
    case CommandLineOption::Help:
        std::fputs(HelpText, stdout);
        return 0;
    case CommandLineOption::Version:
        std::printf("varnoth-terminal %s\n", VARNOTH_VERSION);
        return 0;
    case CommandLineOption::None:
        break;
    }
    return 1;
}
