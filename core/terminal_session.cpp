#include "core/terminal_session.h"

#include <cstring>

TerminalSessionRecord TerminalSession;

bool SetUploadPath(const char* path) {
    TerminalSession.UploadPath[0] = '\0';
    const std::size_t length = std::strlen(path);
    TerminalSession.UploadPathTooLong = length >= UploadPathCapacity;
    if (TerminalSession.UploadPathTooLong) {
        return false;
    }
    std::memcpy(TerminalSession.UploadPath, path, length + 1);
    return true;
}
