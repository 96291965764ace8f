#include "tests/fakes/fake_log_file.h"

FakeLogFileState FakeLogFile;

// The fake clock's milliseconds as a time of one day, 2026-12-07 from midnight on.
LocalTime LocalTimeAt(unsigned long long monotonicMilliseconds) {
    const unsigned long long ms = monotonicMilliseconds % (24ull * 3600 * 1000);
    return {2026,
            12,
            7,
            static_cast<int>(ms / 3600000),
            static_cast<int>(ms / 60000 % 60),
            static_cast<int>(ms / 1000 % 60),
            static_cast<int>(ms % 1000)};
}

bool OpenLogFile(const char* path, char (&reason)[LogFileReasonCapacity]) {
    if (FakeLogFile.refuseOpen) {
        std::snprintf(reason, sizeof reason, "Permission denied");
        return false;
    }
    FakeLogFile.path = path;
    FakeLogFile.open = true;
    return true;
}

bool WriteLogFile(const char* bytes, std::size_t count, char (&reason)[LogFileReasonCapacity]) {
    if (FakeLogFile.room < count) {
        std::snprintf(reason, sizeof reason, "No space left on device");
        return false;
    }
    FakeLogFile.room -= count;
    FakeLogFile.writes.emplace_back(bytes, count);
    FakeLogFile.contents.append(bytes, count);
    return true;
}

void CloseLogFile() {
    FakeLogFile.open = false;
}
