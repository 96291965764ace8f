// The session log's file and clock on Win32: WriteFile straight to a handle opened for
// appending (FILE_APPEND_DATA), shared for reading so that another program can follow it.
#include <windows.h>

#include <cstdio>

#include "core/log_file.h"
#include "serial/serial_port.h"

namespace {

HANDLE LogHandle = INVALID_HANDLE_VALUE;

// The system's words, without the full stop and CR LF they end in.
void Explain(char (&reason)[LogFileReasonCapacity], DWORD error) {
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reason, sizeof reason, nullptr);
    while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n' ||
                          reason[length - 1] == '.' || reason[length - 1] == ' ')) {
        --length;
    }
    reason[length] = '\0';
    if (length == 0) {
        std::snprintf(reason, sizeof reason, "error %lu", error);
    }
}

} // namespace

LocalTime LocalTimeAt(unsigned long long monotonicMilliseconds) {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER hundredNanoseconds{};
    hundredNanoseconds.LowPart = now.dwLowDateTime;
    hundredNanoseconds.HighPart = now.dwHighDateTime;
    hundredNanoseconds.QuadPart -= (MonotonicMilliseconds() - monotonicMilliseconds) * 10000;
    FILETIME then{hundredNanoseconds.LowPart, hundredNanoseconds.HighPart};
    FILETIME localThen{};
    SYSTEMTIME local{};
    FileTimeToLocalFileTime(&then, &localThen);
    FileTimeToSystemTime(&localThen, &local);
    return {local.wYear,   local.wMonth,  local.wDay,         local.wHour,
            local.wMinute, local.wSecond, local.wMilliseconds};
}

bool OpenLogFile(const char* path, char (&reason)[LogFileReasonCapacity]) {
    CloseLogFile();
    LogHandle = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (LogHandle == INVALID_HANDLE_VALUE) {
        Explain(reason, GetLastError());
        return false;
    }
    return true;
}

bool WriteLogFile(const char* bytes, std::size_t count, char (&reason)[LogFileReasonCapacity]) {
    // A log piece is at most a chunk's escapes, well within a DWORD.
    DWORD written = 0;
    if (!WriteFile(LogHandle, bytes, static_cast<DWORD>(count), &written, nullptr) ||
        written != count) {
        Explain(reason, written != count && GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL
                                                                             : GetLastError());
        return false;
    }
    return true;
}

void CloseLogFile() {
    if (LogHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(LogHandle);
        LogHandle = INVALID_HANDLE_VALUE;
    }
}
