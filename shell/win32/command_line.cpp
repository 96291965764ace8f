#include <cstring>

#include "core/terminal_session.h"
#include "shell/win32/main_window.h"

// Windows puts a path with blanks in double quotation marks when it passes one (Explorer's
// "Open with", a shortcut, a file dropped on the program), and a Win32 path cannot contain
// that mark. So one pair enclosing the whole rest goes; anything else, an unquoted path
// with blanks included, is taken as it stands.
void TakeUploadPath(const char* commandLineRest) {
    const std::size_t length = std::strlen(commandLineRest);
    const bool enclosed = length >= 2 && commandLineRest[0] == '"' &&
                          std::strchr(commandLineRest + 1, '"') == commandLineRest + length - 1;
    const std::size_t pathLength = length - 2;
    if (!enclosed || pathLength >= UploadPathCapacity) {
        // SetUploadPath refuses what does not fit.
        SetUploadPath(commandLineRest);
        return;
    }
    char path[UploadPathCapacity];
    std::memcpy(path, commandLineRest + 1, pathLength);
    path[pathLength] = '\0';
    SetUploadPath(path);
}
