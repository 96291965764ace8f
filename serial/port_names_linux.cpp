#include "serial/port_names_linux.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "serial/serial_devices_linux.h"
#include "serial/serial_port.h"

namespace {

constexpr const char* PortNamePrefix = "\\\\.\\COM";

// Parses the decimal number after the prefix; false unless the whole rest is that number.
bool ParseComNumber(const char* name, long* number) {
    const std::size_t prefixLength = std::strlen(PortNamePrefix);
    if (std::strncmp(name, PortNamePrefix, prefixLength) != 0) {
        return false;
    }
    const char* digits = name + prefixLength;
    char* end = nullptr;
    *number = std::strtol(digits, &end, 10);
    return end != digits && *end == '\0';
}

bool CopyPath(const std::string& name, char* path, std::size_t capacity) {
    if (name.size() >= capacity) {
        return false;
    }
    std::memcpy(path, name.c_str(), name.size() + 1);
    return true;
}

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The ports directory as the environment names it; empty when neither it nor HOME is set.
std::string PortsDirectoryPath() {
    if (!Variable(PortsDirectoryVariable).empty()) {
        return Variable(PortsDirectoryVariable);
    }
    if (!Variable("XDG_CONFIG_HOME").empty()) {
        return Variable("XDG_CONFIG_HOME") + "/varnoth/ports";
    }
    if (!Variable("HOME").empty()) {
        return Variable("HOME") + "/.config/varnoth/ports";
    }
    return "";
}

std::string EntryPath(long number) {
    const std::string directory = PortsDirectoryPath();
    return directory.empty() ? "" : directory + "/com" + std::to_string(number);
}

// lstat, so that a link to a missing device still counts as its number's entry.
bool HasEntry(const std::string& entry) {
    struct stat status;
    return !entry.empty() && lstat(entry.c_str(), &status) == 0;
}

// Two names of one device resolve to the same node; a name that resolves to nothing is only
// itself.
std::string RealPath(const std::string& path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) != nullptr ? real : path;
}

std::string LinkTarget(const std::string& entry) {
    char target[PATH_MAX];
    const ssize_t length = readlink(entry.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : entry;
}

std::string Or(const std::string& text, const char* placeholder) {
    return text.empty() ? placeholder : text;
}

} // namespace

bool ResolvePortDevice(const char* name, char* path, std::size_t capacity) {
    long number = 0;
    if (!ParseComNumber(name, &number)) {
        return CopyPath(name, path, capacity);
    }
    const std::string entry = EntryPath(number);
    if (HasEntry(entry)) {
        return CopyPath(entry, path, capacity);
    }
    if (number < 1) {
        return false;
    }
    const std::vector<SerialDevice> devices = ListSerialDevices(Variable(DeviceRootVariable));
    return static_cast<std::size_t>(number) <= devices.size() &&
           CopyPath(devices[static_cast<std::size_t>(number) - 1].path, path, capacity);
}

std::vector<PortListEntry> ListPorts(int highestNumber) {
    const std::vector<SerialDevice> devices = ListSerialDevices(Variable(DeviceRootVariable));
    std::vector<bool> reached(devices.size(), false);
    std::vector<PortListEntry> rows;
    for (int number = 1; number <= highestNumber; ++number) {
        const std::string entry = EntryPath(number);
        const std::size_t index = static_cast<std::size_t>(number) - 1;
        if (HasEntry(entry)) {
            rows.push_back({number, LinkTarget(entry), "", true});
        } else if (index < devices.size()) {
            rows.push_back({number, devices[index].path, devices[index].persistentName, false});
            reached[index] = true;
        }
    }
    for (std::size_t index = 0; index < devices.size(); ++index) {
        if (!reached[index]) {
            rows.push_back({0, devices[index].path, devices[index].persistentName, false});
        }
    }
    return rows;
}

// One look at the devices for all numbers: resolving each number on its own would list them
// 255 times over.
void FindPresentPorts(bool (&present)[HighestPortNumber + 1]) {
    for (const PortListEntry& row : ListPorts(HighestPortNumber)) {
        if (row.number > 0) {
            present[row.number] = true;
        }
    }
}

// Number, device, persistent name and where the number comes from, in aligned columns.
int PrintPortTable() {
    const std::vector<PortListEntry> rows = ListPorts(HighestPortNumber);
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

std::string LastingDeviceName(const std::string& path) {
    const std::string root = Variable(DeviceRootVariable);
    const std::string device = RealPath(path);
    for (const SerialDevice& present : ListSerialDevices(root)) {
        if (!present.persistentName.empty() && RealPath(present.path) == device) {
            return root + "/dev/serial/by-id/" + present.persistentName;
        }
    }
    return path;
}

int PortNumberOf(const std::string& path) {
    const std::string device = RealPath(path);
    for (const PortListEntry& row : ListPorts(HighestPortNumber)) {
        const std::string reached = row.fromPortsDirectory ? EntryPath(row.number) : row.device;
        if (row.number > 0 && RealPath(reached) == device) {
            return row.number;
        }
    }
    return 0;
}
