// The session log's file and clock on POSIX: write(2) straight to an O_APPEND descriptor.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "core/log_file.h"
#include "serial/serial_port.h"

namespace {

int LogDescriptor = -1;

void Explain(char (&reason)[LogFileReasonCapacity], int error) {
    std::snprintf(reason, sizeof reason, "%s", std::strerror(error));
}

} // namespace

LocalTime LocalTimeAt(unsigned long long monotonicMilliseconds) {
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    const unsigned long long since = MonotonicMilliseconds() - monotonicMilliseconds;
    long long milliseconds =
        static_cast<long long>(wall.tv_sec) * 1000 + wall.tv_nsec / 1000000 -
        static_cast<long long>(since);
    const time_t seconds = static_cast<time_t>(milliseconds / 1000);
    tm local{};
    localtime_r(&seconds, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
            local.tm_min,         local.tm_sec,     static_cast<int>(milliseconds % 1000)};
}

bool OpenLogFile(const char* path, char (&reason)[LogFileReasonCapacity]) {
    CloseLogFile();
    LogDescriptor = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (LogDescriptor < 0) {
        Explain(reason, errno);
        return false;
    }
    return true;
}

bool WriteLogFile(const char* bytes, std::size_t count, char (&reason)[LogFileReasonCapacity]) {
    while (count > 0) {
        const ssize_t written = write(LogDescriptor, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            Explain(reason, written < 0 ? errno : ENOSPC);
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

void CloseLogFile() {
    if (LogDescriptor >= 0) {
        close(LogDescriptor);
        LogDescriptor = -1;
    }
}
