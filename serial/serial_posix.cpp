// The serial link on POSIX: termios for the line, poll for the time-outs, since VTIME counts
// only tenths of a second and cannot express the 50 ms the device protocol relies on.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "serial/port_names_linux.h"
#include "serial/serial_port.h"

namespace {

// At 9600 baud a talking device delivers about one byte a millisecond. Waking for each costs
// two system calls a byte; gathering for this long after a read that emptied the queue takes
// them about ten at a time. The price: silence is counted from the last read that found
// bytes, which may be up to this much after the last byte came, so a pause of 50 to 60 ms may
// or may not end a chunk. The device's characters come far closer, its pauses far longer.
constexpr unsigned ReadGatherMilliseconds = 10;

int Descriptor(SerialHandle handle) {
    return static_cast<int>(handle);
}

long long Now() {
    return static_cast<long long>(MonotonicMilliseconds());
}

// Raw 9600 8N1: bytes pass unchanged both ways, no echo, no line-end translation, no
// software flow control. Hardware flow control is switched off too: a setting left behind
// by another program would otherwise stall every write to a device that does not drive CTS.
bool ConfigureLine(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    // cfmakeraw leaves IXOFF alone: a driver told so by another program would send XOFF to
    // the device whenever its input queue filled.
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    // With VMIN 1 a non-blocking read of an empty queue fails with EAGAIN, so that a read of
    // 0 bytes always means what it means for a file: the other end is gone (a hang-up).
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    // termios names speeds by constants, not numbers: B9600 is PortBaudRate.
    static_assert(PortBaudRate == 9600, "the speed constant below must follow PortBaudRate");
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

enum class WaitResult { Ready, TimedOut, HungUp };

// Waits for `events` on fd until `deadline` (MonotonicMilliseconds). A hang-up or error is told
// apart from a time-out, so that a vanished device ends a write at once instead of being waited
// for again; a read still takes what the device sent before it went. A signal that interrupts
// the wait does not lengthen it: the wait goes on for the time that is left.
WaitResult WaitFor(int fd, short events, long long deadline) {
    pollfd entry{fd, events, 0};
    int ready;
    do {
        const long long left = deadline - Now();
        ready = poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
    } while (ready < 0 && errno == EINTR);
    if (ready > 0 && (entry.revents & events) != 0) {
        return WaitResult::Ready;
    }
    return ready < 0 || (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0
               ? WaitResult::HungUp
               : WaitResult::TimedOut;
}

ssize_t ReadRetrying(int fd, char* buffer, std::size_t count) {
    ssize_t got;
    do {
        got = read(fd, buffer, count);
    } while (got < 0 && errno == EINTR);
    return got;
}

// When the last read that got anything took its first byte.
unsigned long long firstByteTakenAt = 0;

// How a read of one chunk ended: the line went quiet for the read time-out, the device went
// away, the budget ran out while bytes kept coming, or the buffer filled. Only the first two end
// the chunk; after the others it goes on in the next read.
enum class ReadEnd { Quiet, Gone, OutOfTime, Full };

// Takes into `buffer` whatever the driver has queued, up to `room` bytes, and counts it in
// *count. Returns false when the device is gone: a read of 0 bytes is the end of the line (a
// hang-up, an unplugged adapter), and so is any error but EAGAIN, which only says that nothing
// is queued (EIO after a hang-up, ENODEV once the adapter is unplugged).
bool TakeQueued(int fd, char* buffer, std::size_t room, std::size_t* count) {
    const ssize_t got = ReadRetrying(fd, buffer, room);
    if (got > 0) {
        *count = static_cast<std::size_t>(got);
        return true;
    }
    *count = 0;
    return got < 0 && errno == EAGAIN;
}

// Reads one chunk into buffer[0 .. room): whatever is queued is taken in one call, since those
// bytes all arrived before we looked and the chunk's 50 ms rule cannot tell the difference; a
// read that emptied the queue gathers for a moment, then reads again or waits for the silence.
ReadEnd ReadChunk(int fd, char* buffer, std::size_t room, unsigned budgetMilliseconds,
                  std::size_t* count) {
    const long long started = Now();
    // Silence is counted from the last look that found bytes.
    long long lastData = started;
    *count = 0;
    for (;;) {
        std::size_t got = 0;
        if (!TakeQueued(fd, buffer + *count, room - *count, &got)) {
            return ReadEnd::Gone;
        }
        if (got == 0) {
            const WaitResult waited = WaitFor(fd, POLLIN, lastData + PortTimeoutMilliseconds);
            if (waited != WaitResult::Ready) {
                return waited == WaitResult::HungUp ? ReadEnd::Gone : ReadEnd::Quiet;
            }
            continue;
        }
        const bool emptied = got < room - *count;
        if (*count == 0) {
            firstByteTakenAt = MonotonicMilliseconds();
        }
        *count += got;
        lastData = Now();
        if (*count == room) {
            return ReadEnd::Full;
        }
        if (lastData - started >= static_cast<long long>(budgetMilliseconds)) {
            return ReadEnd::OutOfTime;
        }
        if (emptied) {
            SleepMilliseconds(ReadGatherMilliseconds);
        }
    }
}

// Why the last open failed: the device's path and a sentence with the fix fit easily.
char failureReason[PATH_MAX + 128];
// What the last successful open reached, by the name that finds it again after a replug.
char lastPort[PATH_MAX];
// The port whose last read found its device gone, or none.
SerialHandle goneHandle = InvalidPortHandle;
// The device the last successful open reached, below the last "dev/" of its real path.
char openedDevice[PATH_MAX];
// Named in the reason a number reaches no device.
const char* portListCommand = "varnoth-terminal --list-ports";

bool InGroup(gid_t group) {
    if (getegid() == group) {
        return true;
    }
    const int count = getgroups(0, nullptr);
    if (count <= 0) {
        return false;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    return getgroups(count, groups.data()) == count &&
           std::find(groups.begin(), groups.end(), group) != groups.end();
}

// Serial devices belong to a group (dialout on Debian) whose members may open them. Only a
// group that grants reading and writing and that the process is not in is worth joining;
// membership is read at login, hence logging in again.
const char* GroupToJoin(const char* device) {
    struct stat status;
    if (stat(device, &status) != 0 || status.st_gid == 0 ||
        (status.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP) || InGroup(status.st_gid)) {
        return nullptr;
    }
    const group* owner = getgrgid(status.st_gid);
    return owner != nullptr ? owner->gr_name : nullptr;
}

void ExplainFailure(const char* path, int error) {
    // The device itself rather than a link to it, when it is there: that is what the user knows.
    char device[PATH_MAX];
    if (realpath(path, device) == nullptr) {
        std::snprintf(device, sizeof device, "%s", path);
    }
    const char* reason = std::strerror(error);
    const char* group = nullptr;
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        reason = "no such device";
        break;
    case EBUSY:       // TIOCEXCL set by another program
    case EWOULDBLOCK: // its lock
        reason = "in use by another program";
        break;
    case ENOTTY:
        reason = "not a serial port";
        break;
    case EACCES:
    case EPERM:
        reason = "permission denied";
        group = GroupToJoin(device);
        break;
    }
    if (group != nullptr) {
        std::snprintf(failureReason, sizeof failureReason,
                      "%s: %s; sudo usermod -aG %s $USER, then log out and in again\n", device,
                      reason, group);
    } else {
        std::snprintf(failureReason, sizeof failureReason, "%s: %s\n", device, reason);
    }
}

} // namespace

SerialHandle OpenPort(const char* name) {
    failureReason[0] = '\0';
    char path[PATH_MAX];
    if (!ResolvePortDevice(name, path, sizeof path)) {
        // The number has no ports-folder entry, and fewer devices are present.
        std::snprintf(failureReason, sizeof failureReason,
                      "no serial device has this number; %s lists them\n", portListCommand);
        return InvalidPortHandle;
    }
    // Non-blocking, so that opening a port without carrier detect never hangs.
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        ExplainFailure(path, errno);
        return InvalidPortHandle;
    }
    // A port another program holds fails to open: TIOCEXCL keeps other opens out
    // (except root's), and the lock tells us whether a cooperating program got there first.
    // What reached the port before it was ours (an interrupted program's last answer) is
    // dropped once the line is set up, before the probe or the first line goes out.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 || !ConfigureLine(fd) ||
        tcflush(fd, TCIFLUSH) != 0) {
        const int error = errno;
        close(fd);
        ExplainFailure(path, error);
        return InvalidPortHandle;
    }
    goneHandle = InvalidPortHandle;
    std::snprintf(lastPort, sizeof lastPort, "%s", LastingDeviceName(path).c_str());
    char device[PATH_MAX];
    const char* shown = realpath(path, device) != nullptr ? device : path;
    for (const char* dev = std::strstr(shown, "/dev/"); dev != nullptr;
         dev = std::strstr(dev + 1, "/dev/")) {
        shown = dev + std::strlen("/dev/");
    }
    std::snprintf(openedDevice, sizeof openedDevice, "%s", shown);
    return static_cast<SerialHandle>(fd);
}

const char* OpenedDeviceName() {
    return openedDevice;
}

void NamePortListCommand(const char* command) {
    portListCommand = command;
}

const char* PortOpenFailureReason() {
    return failureReason;
}

std::size_t WritePort(SerialHandle handle, const char* bytes, std::size_t count) {
    if (handle == InvalidPortHandle) {
        return 0;
    }
    const int fd = Descriptor(handle);
    const long long deadline = Now() + WriteTimeLimitMilliseconds(count);
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t written = write(fd, bytes + sent, count - sent);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written == 0 || errno != EAGAIN ||
            WaitFor(fd, POLLOUT, deadline) != WaitResult::Ready) {
            break;
        }
    }
    return sent;
}

std::size_t ReadPort(SerialHandle handle, char* buffer, std::size_t capacity,
                     unsigned budgetMilliseconds, bool* lineWentQuiet) {
    std::size_t count = 0;
    ReadEnd end = ReadEnd::Quiet;
    if (handle != InvalidPortHandle) {
        end = capacity > 1
                  ? ReadChunk(Descriptor(handle), buffer, capacity - 1, budgetMilliseconds, &count)
                  : ReadEnd::Full;
    }
    if (capacity > 0) {
        buffer[count] = '\0';
    }
    goneHandle = end == ReadEnd::Gone ? handle : InvalidPortHandle;
    *lineWentQuiet = end == ReadEnd::Quiet || end == ReadEnd::Gone;
    return count;
}

std::size_t ReadArrived(SerialHandle handle, char* buffer, std::size_t capacity,
                        unsigned waitMilliseconds) {
    std::size_t count = 0;
    bool gone = false;
    if (handle != InvalidPortHandle && capacity > 1) {
        const int fd = Descriptor(handle);
        gone = !TakeQueued(fd, buffer, capacity - 1, &count);
        if (!gone && count == 0 && waitMilliseconds > 0) {
            const WaitResult waited = WaitFor(fd, POLLIN, Now() + waitMilliseconds);
            gone = waited == WaitResult::HungUp ||
                   (waited == WaitResult::Ready && !TakeQueued(fd, buffer, capacity - 1, &count));
        }
    }
    if (capacity > 0) {
        buffer[count] = '\0';
    }
    if (count > 0) {
        firstByteTakenAt = MonotonicMilliseconds();
    }
    goneHandle = gone ? handle : InvalidPortHandle;
    return count;
}

unsigned long long FirstByteTakenAt() {
    return firstByteTakenAt;
}

bool PortDeviceGone(SerialHandle handle) {
    return handle != InvalidPortHandle && handle == goneHandle;
}

SerialHandle ReopenLastPort(std::int32_t* numberNow) {
    const SerialHandle handle = lastPort[0] != '\0' ? OpenPort(lastPort) : InvalidPortHandle;
    if (handle != InvalidPortHandle) {
        *numberNow = PortNumberOf(lastPort);
    }
    return handle;
}

void ClosePort(SerialHandle handle) {
    const int fd = Descriptor(handle);
    // The exclusive flag belongs to the device, not to our descriptor: it outlives the close
    // when another process (a simulated device, say) still has the terminal open.
    ioctl(fd, TIOCNXCL);
    close(fd);
}

unsigned long long MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000 +
           static_cast<unsigned long long>(now.tv_nsec) / 1000000;
}

void SleepMilliseconds(unsigned milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
