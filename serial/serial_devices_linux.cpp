#include "serial/serial_devices_linux.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <map>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The ranks of the order described in the header.
enum Rank { PersistentName, OtherUsb, OnBoard };

struct Found {
    Rank rank;
    std::string name;
    std::string persistentName;
};

bool Exists(const std::string& path) {
    struct stat entry;
    return lstat(path.c_str(), &entry) == 0;
}

// The names of a directory's entries, without "." and "..".
std::vector<std::string> Entries(const std::string& directory) {
    std::vector<std::string> names;
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.push_back(entry->d_name);
        }
    }
    closedir(listing);
    return names;
}

// ttyS<digits> is the 8250 driver's naming; ttySAC, ttySC and the like belong to drivers that
// register only the ports they find.
bool IsEightTwoFiftyPort(const std::string& name) {
    return name.size() > 4 && name.compare(0, 4, "ttyS") == 0 &&
           name.find_first_not_of("0123456789", 4) == std::string::npos;
}

// The serial core shows a port's type in sysfs, the same value TIOCGSERIAL gives, and reading it
// needs neither permission to open the port nor an open that would raise DTR on a device
// attached to it. A kernel without the attribute is asked through TIOCGSERIAL.
bool HasUartBehind(const std::string& root, const std::string& name) {
    if (std::FILE* attribute =
            std::fopen((root + "/sys/class/tty/" + name + "/type").c_str(), "r")) {
        int type = PORT_UNKNOWN;
        const bool read = std::fscanf(attribute, "%d", &type) == 1;
        std::fclose(attribute);
        return read && type != PORT_UNKNOWN;
    }
    const int fd =
        open((root + "/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    serial_struct info{};
    const bool known = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    close(fd);
    return known;
}

bool IsPresent(const std::string& root, const std::string& name) {
    if (!Exists(root + "/sys/class/tty/" + name + "/device") || !Exists(root + "/dev/" + name)) {
        return false;
    }
    return !IsEightTwoFiftyPort(name) || HasUartBehind(root, name);
}

// A USB device's sysfs path runs through its bus: .../usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0.
bool IsOnUsb(const std::string& root, const std::string& name) {
    char real[PATH_MAX];
    return realpath((root + "/sys/class/tty/" + name).c_str(), real) != nullptr &&
           std::strstr(real, "/usb") != nullptr;
}

// udev's by-id links point at the node relatively ("../../ttyUSB0"); the name is what counts,
// so a fake tree's links work alike.
std::map<std::string, std::string> PersistentNames(const std::string& root) {
    const std::string directory = root + "/dev/serial/by-id";
    std::vector<std::string> links = Entries(directory);
    std::sort(links.begin(), links.end());
    std::map<std::string, std::string> names;
    for (const std::string& link : links) {
        char target[PATH_MAX];
        const ssize_t length =
            readlink((directory + "/" + link).c_str(), target, sizeof target - 1);
        if (length > 0) {
            target[length] = '\0';
            const char* slash = std::strrchr(target, '/');
            names.emplace(slash != nullptr ? slash + 1 : target, link);
        }
    }
    return names;
}

// ttyS2 before ttyS10: the stem first, then the number at the end.
bool NameOrder(const std::string& a, const std::string& b) {
    const std::size_t stemA = a.find_last_not_of("0123456789") + 1;
    const std::size_t stemB = b.find_last_not_of("0123456789") + 1;
    const int stems = a.compare(0, stemA, b, 0, stemB);
    if (stems != 0) {
        return stems < 0;
    }
    return std::strtoul(a.c_str() + stemA, nullptr, 10) <
           std::strtoul(b.c_str() + stemB, nullptr, 10);
}

} // namespace

std::vector<SerialDevice> ListSerialDevices(const std::string& root) {
    const std::map<std::string, std::string> persistentNames = PersistentNames(root);
    std::vector<Found> found;
    for (const std::string& name : Entries(root + "/sys/class/tty")) {
        if (!IsPresent(root, name)) {
            continue;
        }
        const auto persistent = persistentNames.find(name);
        if (persistent != persistentNames.end()) {
            found.push_back({PersistentName, name, persistent->second});
        } else {
            found.push_back({IsOnUsb(root, name) ? OtherUsb : OnBoard, name, ""});
        }
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.rank != b.rank) {
            return a.rank < b.rank;
        }
        return a.rank == PersistentName ? a.persistentName < b.persistentName
                                        : NameOrder(a.name, b.name);
    });
    std::vector<SerialDevice> devices;
    for (const Found& device : found) {
        devices.push_back({root + "/dev/" + device.name, device.persistentName});
    }
    return devices;
}
