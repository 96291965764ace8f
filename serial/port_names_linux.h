// How the port names the terminal core builds ("\\.\COM7") find a device on Linux.
// The rule users meet (the ports folder's com<n> links first, then the n-th serial device
// present, looked up afresh at every open) is told in full in docs/using.md, "Port numbers";
// serial_devices_linux.h finds and orders the devices. A name that is not of the COM form is
// taken as a device path as it stands. $VARNOTH_DEVICE_ROOT, when set, names a folder holding
// dev/ and sys/ that stands in for the machine's own, so that a pseudo-terminal can pose as an
// adapter.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Environment variable naming the ports directory.
constexpr const char* PortsDirectoryVariable = "VARNOTH_PORTS_DIR";
// Environment variable naming a folder that stands in for / when devices are looked for.
constexpr const char* DeviceRootVariable = "VARNOTH_DEVICE_ROOT";

// Writes the device path for `name` into `path`; false when the name maps to no device
// (no entry and no device with that number, or a path too long for the buffer).
bool ResolvePortDevice(const char* name, char* path, std::size_t capacity);

// One row of the port table.
struct PortListEntry {
    int number;                 // what "open n" takes; 0 for a device no number reaches
    std::string device;         // the device, or where a ports directory entry points
    std::string persistentName; // the device's name in dev/serial/by-id, or empty
    bool fromPortsDirectory;
};

// Numbers 1 to highestNumber that reach something, in order, then the devices present that
// none reaches (beyond the highest number, or their number taken by an entry).
std::vector<PortListEntry> ListPorts(int highestNumber);

// The name by which the device at `path` is found again after it went away and came back: its
// persistent name in dev/serial/by-id when it has one, else `path` itself.
std::string LastingDeviceName(const std::string& path);
// The number that reaches the device at `path` now; 0 when none does.
int PortNumberOf(const std::string& path);

