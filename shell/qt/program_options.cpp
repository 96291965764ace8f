#include "shell/qt/program_options.h"

#include <cstdio>
#include <getopt.h>

#include "serial/serial_port.h"

namespace {

// In the shape help2man reads ("Usage:", "or:", "Exit status:", "Environment:"), which makes
// the manual page.
constexpr const char* HelpText = R"(Usage: varnoth-terminal [OPTION]... [--] [PROGRAM-FILE]
  or:  varnoth-terminal --list-ports | --help | --version

Opens the Varnoth serial terminal window (9600 baud, 8N1). PROGRAM-FILE is the file "rp!"
uploads. Options come first; "--" ends them, so that a path that begins with "-" is written
after it. The words after the options are the path, joined by single blanks.

  --console     run in the terminal the program was started from, not in a window; without
                a display the program does so by itself
  --log FILE    log the session into FILE, appended to: each line the device sent, each
                line sent to it and the terminal's own words, with their times
  --list-ports  show the serial ports found, with the numbers "open n" takes
  --help        show this help
  --version     show the version

In the window, "open n" connects to port n (1 to 255), "open 0" finds the device, "rp!"
uploads the program file and "clear" empties the pane.

In the text console the same lines do the same. Enter runs the line, Up and Down bring back
the lines entered, and Alt+Enter sends a line without its line feed (the window's left
Ctrl+Enter: a terminal does not tell the left Ctrl key from the right). Ctrl+C empties the
line; Ctrl+D on an empty line, or Ctrl+C twice, quits; Ctrl+Z suspends. With standard input
or output not a terminal, each line read runs as if typed, once the device has answered the
line before (a second at most) and no upload runs; what the device sends goes to standard
output and the terminal's words to standard error; at the end of the input the program waits
for an upload to end and for the device to be quiet for a second.

Exit status:
  0    the window was closed, the console quit, or an option was answered
  2    bad usage, or the log file cannot be opened

Environment:
  VARNOTH_PORTS_DIR    folder of links com1 ... com255 that give devices their numbers
                       (default $XDG_CONFIG_HOME/varnoth/ports or ~/.config/varnoth/ports)
  VARNOTH_DEVICE_ROOT  folder holding dev/ and sys/ to find devices in instead of the
                       machine's own (for tests and demonstrations)
)";

int UsageError(const char* problem, const char* what) {
    std::fprintf(stderr, "varnoth-terminal: %s%s\nvarnoth-terminal --help for more\n", problem,
                 what);
    return ExitUsage;
}

} // namespace

int ReadProgramOptions(int argc, char** argv, ProgramOptions* options) {
    enum Choice { Console = 1, Log, ListPorts, Help, Version };
    static const option Known[] = {{"console", no_argument, nullptr, Console},
                                   {"log", required_argument, nullptr, Log},
                                   {"list-ports", no_argument, nullptr, ListPorts},
                                   {"help", no_argument, nullptr, Help},
                                   {"version", no_argument, nullptr, Version},
                                   {nullptr, 0, nullptr, 0}};
    // '+': the options end at the first word that is none, as the usage says; ':': a missing
    // value is told apart. The messages are the program's own.
    opterr = 0;
    for (int chosen; (chosen = getopt_long(argc, argv, "+:", Known, nullptr)) != -1;) {
        switch (chosen) {
        case Console:
            options->console = true;
            break;
        case Log:
            options->logPath = optarg;
            break;
        case ListPorts:
            return PrintPortTable();
        case Help:
            std::fputs(HelpText, stdout);
            return 0;
        case Version:
            std::printf("varnoth-terminal %s\n", VARNOTH_VERSION);
            return 0;
        case ':':
            return UsageError(argv[optind - 1], " needs a value");
        default:
            return UsageError("unknown option ", argv[optind - 1]);
        }
    }
    // An unquoted path with blanks still names its file.
    for (int i = optind; i < argc; ++i) {
        options->programPath += (i > optind ? " " : "") + std::string(argv[i]);
    }
    return -1;
}
