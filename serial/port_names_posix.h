// How the port names the terminal core builds ("\\.\COM7") find a device on a POSIX system.
//
// A directory of links named com1 ... com24 maps numbers to devices, the way wine maps its COM
// ports: com7 -> /dev/ttyUSB0 makes "open 7" reach that adapter. The directory is
// $VARNOTH_PORTS_DIR, or else $XDG_CONFIG_HOME/varnoth/ports, or else ~/.config/varnoth/ports.
// A number without an entry there names the built-in port /dev/ttyS<n-1> (COM1 is ttyS0).
// A name that is not of the COM form is taken as a device path as it stands.
#pragma once

#include <cstddef>

// Environment variable naming the ports directory.
constexpr const char* PortsDirectoryVariable = "VARNOTH_PORTS_DIR";

// Writes the device path for `name` into `path`; false when the name maps to no device
// (COM0 or a negative number without a link, or a path too long for the buffer).
bool ResolvePortDevice(const char* name, char* path, std::size_t capacity);
