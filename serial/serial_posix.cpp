// The serial link on POSIX: termios for the line, poll for the time-outs, since VTIME counts
// only tenths of a second and cannot express the 50 ms the device protocol relies on.
#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "serial/port_names_posix.h"
#include "serial/serial_port.h"

namespace {

int Descriptor(SerialHandle handle) {
    return static_cast<int>(handle);
}

long long MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
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
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

// Waits for `events` on fd; false on time-out, hang-up or error, so a vanished device ends a
// read or write at once instead of being polled again.
bool WaitFor(int fd, short events, int milliseconds) {
    pollfd entry{fd, events, 0};
    int ready;
    do {
        ready = poll(&entry, 1, milliseconds);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (entry.revents & events) != 0 &&
           (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

ssize_t ReadRetrying(int fd, char* buffer, std::size_t count) {
    ssize_t got;
    do {
        got = read(fd, buffer, count);
    } while (got < 0 && errno == EINTR);
    return got;
}

} // namespace

SerialHandle OpenPort(const char* name) {
    char path[PATH_MAX];
    if (!ResolvePortDevice(name, path, sizeof path)) {
        return InvalidPortHandle;
    }
    // Non-blocking, so that opening a port without carrier detect never hangs.
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return InvalidPortHandle;
    }
    // A port another program holds is as good as missing: TIOCEXCL keeps other opens out
    // (except root's), and the lock tells us whether a cooperating program got there first.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 || !ConfigureLine(fd)) {
        close(fd);
        return InvalidPortHandle;
    }
    return static_cast<SerialHandle>(fd);
}

int WritePort(SerialHandle handle, const char* bytes, std::size_t count) {
    if (handle == InvalidPortHandle) {
        return 0;
    }
    const int fd = Descriptor(handle);
    const long long deadline = MonotonicMilliseconds() + PortTimeoutMilliseconds;
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
        const long long left = deadline - MonotonicMilliseconds();
        if (written == 0 || errno != EAGAIN || left <= 0 ||
            !WaitFor(fd, POLLOUT, static_cast<int>(left))) {
            break;
        }
    }
    return 0;
}

std::size_t ReadPort(SerialHandle handle, char* buffer, std::size_t capacity,
                     unsigned budgetMilliseconds, bool* lineWentQuiet) {
    std::size_t count = 0;
    bool outOfTime = false;
    if (handle != InvalidPortHandle) {
        const int fd = Descriptor(handle);
        const long long started = MonotonicMilliseconds();
        // Whatever is queued is taken in one call: those bytes all arrived before we looked, so
        // the chunk's 50 ms rule cannot tell the difference. A read that got less than it asked
        // for emptied the queue, so the next bytes are waited for rather than read for.
        bool mayBeQueued = true;
        while (count + 1 < capacity) {
            if (!mayBeQueued && !WaitFor(fd, POLLIN, PortTimeoutMilliseconds)) {
                break;
            }
            const std::size_t wanted = capacity - 1 - count;
            const ssize_t got = ReadRetrying(fd, buffer + count, wanted);
            // With VMIN and VTIME at 0 an empty queue reads as 0 bytes or EAGAIN. After poll
            // said readable, the same means the other end is gone; any other error (EIO after
            // a hang-up) ends the chunk too.
            const bool empty = got == 0 || (got < 0 && errno == EAGAIN);
            if (empty && mayBeQueued) {
                mayBeQueued = false;
                continue;
            }
            if (got <= 0) {
                break;
            }
            count += static_cast<std::size_t>(got);
            mayBeQueued = static_cast<std::size_t>(got) == wanted;
            if (MonotonicMilliseconds() - started >= static_cast<long long>(budgetMilliseconds)) {
                outOfTime = true;
                break;
            }
        }
    }
    if (capacity > 0) {
        buffer[count] = '\0';
    }
    *lineWentQuiet = !outOfTime && count + 1 < capacity;
    return count;
}

void ClosePort(SerialHandle handle) {
    const int fd = Descriptor(handle);
    // The exclusive flag belongs to the device, not to our descriptor: it outlives the close
    // when another process (a simulated device, say) still has the terminal open.
    ioctl(fd, TIOCNXCL);
    close(fd);
}

void SleepMilliseconds(unsigned milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
