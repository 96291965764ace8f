#include "shell/qt/program_options.h"

#include <cstdio>

#include "serial/serial_port.h"

namespace {

// In the shape help2man reads ("Usage:", "or:", "Exit status:", "Environment:"), which makes
// the manual page.
constexpr const char* HelpText = R"(Usage: varnoth-terminal [PROGRAM-FILE]
  or:  varnoth-terminal -- PROGRAM-FILE
  or:  varnoth-terminal --list-ports | --help | --version

Opens the Varnoth serial terminal window (9600 baud, 8N1). PROGRAM-FILE is the file "rp!"
uploads: every argument belongs to it, joined by single blanks; after "--" it is a path
whatever it looks like. An option counts only as the sole argument.

  --list-ports  show the serial ports found, with the numbers "open n" takes
  --help        show this help
  --version     show the version

In the window, "open n" connects to port n (1 to 255), "open 0" finds the device, "rp!"
uploads the program file and "clear" empties the pane.

Exit status:
  0    the window was closed, or an option was answered
  3    no display: the window needs an X11 or Wayland desktop (or ssh -X); varnoth-upload
       uploads from a script or a text console

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
