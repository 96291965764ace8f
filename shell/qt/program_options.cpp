#include "shell/qt/program_options.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/port_connection.h"
#include "serial/port_names_posix.h"

namespace {

// In the shape help2man reads ("Usage:", "or:", "Environment:"), which makes the manual page.
constexpr const char* HelpText = R"(Usage: varnoth-terminal [PROGRAM-FILE]
  or:  varnoth-terminal -- PROGRAM-FILE
  or:  varnoth-terminal --list-ports | --help | --version

Opens the Varnoth serial terminal window (9600 baud, 8N1). PROGRAM-FILE is the file "rp!"
uploads: every argument belongs to it, joined by single blanks; after "--" it is a path
whatever it looks like. An option counts only as the sole argument.

  --list-ports  show the serial ports found, with the numbers "open n" takes
  --help        show this help
  --version     show the version

In the window, "open n" connects to port n (1 to 24), "open 0" finds the device, "rp!"
uploads the program file and "clear" empties the pane.

Environment:
  VARNOTH_PORTS_DIR    folder of links com1 ... com24 that give devices their numbers
                       (default $XDG_CONFIG_HOME/varnoth/ports or ~/.config/varnoth/ports)
  VARNOTH_DEVICE_ROOT  folder holding dev/ and sys/ to find devices in instead of the
                       machine's own (for tests and demonstrations)
)";

std::string Or(const std::string& text, const char* placeholder) {
    return text.empty() ? placeholder : text;
}

// Number, device, persistent name and where the number comes from, in aligned columns.
int PrintPortTable() {
    const std::vector<PortListEntry> rows = ListPorts(PortNumberLimit - 1);
    const std::string directory = Or(PortsDirectoryPath(), "(none: HOME is not set)");
    if (rows.empty()) {
        std::printf("No serial ports found: plug in an adapter, or link a device as %s/com1.\n",
                    directory.c_str());
        return 0;
    }
    std::size_t deviceWidth = std::string("device").size();
    std::size_t nameWidth = std::string("persistent name").size();
    for (const PortListEntry& row : rows) {
        deviceWidth = std::max(deviceWidth, row.device.size());
        nameWidth = std::max(nameWidth, Or(row.persistentName, "-").size());
    }
    const int deviceColumn = static_cast<int>(deviceWidth);
    const int nameColumn = static_cast<int>(nameWidth);
    std::printf("port  %-*s  %-*s  from\n", deviceColumn, "device", nameColumn, "persistent name");
    bool unnumbered = false;
    for (const PortListEntry& row : rows) {
        const std::string number = row.number > 0 ? std::to_string(row.number) : "-";
        unnumbered = unnumbered || row.number == 0;
        std::printf("%4s  %-*s  %-*s  %s\n", number.c_str(), deviceColumn, row.device.c_str(),
                    nameColumn, Or(row.persistentName, "-").c_str(),
                    row.fromPortsDirectory ? "ports folder" : "system");
    }
    if (unnumbered) {
        std::printf(
            "-: no number reaches this device; a link in the ports folder can give it one.\n");
    }
    std::printf("Ports folder: %s (a link comN there makes N that device)\n", directory.c_str());
    return 0;
}

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
