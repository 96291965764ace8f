#include "serial/port_names_posix.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

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

bool Format(char* path, std::size_t capacity, const char* format, const char* text, long number) {
    const int written = std::snprintf(path, capacity, format, text, number);
    return written > 0 && static_cast<std::size_t>(written) < capacity;
}

bool CopyPath(const char* name, char* path, std::size_t capacity) {
    const std::size_t length = std::strlen(name);
    if (length >= capacity) {
        return false;
    }
    std::memcpy(path, name, length + 1);
    return true;
}

// The ports directory's path with the link name for `number` appended.
bool LinkPath(long number, char* path, std::size_t capacity) {
    const char* directory = std::getenv(PortsDirectoryVariable);
    if (directory != nullptr && directory[0] != '\0') {
        return Format(path, capacity, "%s/com%ld", directory, number);
    }
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] != '\0') {
        return Format(path, capacity, "%s/varnoth/ports/com%ld", config, number);
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return Format(path, capacity, "%s/.config/varnoth/ports/com%ld", home, number);
    }
    return false;
}

} // namespace

bool ResolvePortDevice(const char* name, char* path, std::size_t capacity) {
    long number = 0;
    if (!ParseComNumber(name, &number)) {
        return CopyPath(name, path, capacity);
    }
    struct stat entry;
    // lstat, so that a link to a missing device still counts as this number's entry.
    if (LinkPath(number, path, capacity) && lstat(path, &entry) == 0) {
        return true;
    }
    if (number < 1) {
        return false;
    }
    return Format(path, capacity, "%s%ld", "/dev/ttyS", number - 1);
}
