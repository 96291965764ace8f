// Which serial devices a Linux machine has, in the order port numbers count them.
//
// Presence comes from sysfs, as well-kept serial libraries decide it: a tty in
// <root>/sys/class/tty with a `device` entry has hardware behind it (virtual terminals,
// consoles and pseudo-terminals have none), and it needs a node in <root>/dev. The 8250 driver
// registers a fixed number of ttyS ports whether or not a chip is there, so a ttyS counts only
// when the serial core knows its port type (not PORT_UNKNOWN).
//
// Order (docs/using.md, "Port numbers"): by-id names first, by that name, so that the same adapters
// keep their numbers whatever order they were plugged in; then other USB devices, then the
// rest, each by name with numbers compared as numbers.
//
// `root` is "" for the machine itself; tests pass a folder holding a fake dev/ and sys/.
#pragma once

#include <string>
#include <vector>

struct SerialDevice {
    std::string path;           // its node: <root>/dev/<name>
    std::string persistentName; // its entry in <root>/dev/serial/by-id, or empty
};

// Read afresh at every call, so a device plugged in meanwhile is there.
std::vector<SerialDevice> ListSerialDevices(const std::string& root);
