// What the platform owes the session log (core/session_log.h): one file, appended to, written
// as it comes, and the local time. Each program links one implementation (shell/log_file_posix.cpp,
// shell/log_file_win32.cpp); the tests link a fake whose clock they set.
#pragma once

#include <cstddef>

// The system's reason for a failure: a short sentence.
constexpr std::size_t LogFileReasonCapacity = 256;

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

// The local wall-clock time at the moment MonotonicMilliseconds (serial/serial_port.h) read
// `monotonicMilliseconds`.
LocalTime LocalTimeAt(unsigned long long monotonicMilliseconds);

// Opens `path` for appending, creating it when it is missing: nothing already in it is lost.
// False, with the system's reason, when it cannot.
bool OpenLogFile(const char* path, char (&reason)[LogFileReasonCapacity]);
// Hands all `count` bytes to the system at once (no buffer of the program's own), so that what
// a killed program had written is in the file. False, with the reason, when they did not all go.
bool WriteLogFile(const char* bytes, std::size_t count, char (&reason)[LogFileReasonCapacity]);
void CloseLogFile();
