#include "shell/window_title.h"

#include <cstdio>

#include "core/upload_report.h"
#include "shell/window_layout.h"

namespace {

// The name after the last folder. Windows paths may use either separator; on Linux a name
// with a backslash in it shows only its part after it, which still tells the files apart.
const char* FileName(const char* path) {
    const char* name = path;
    for (const char* at = path; *at != '\0'; ++at) {
        if (*at == '/' || *at == '\\') {
            name = at + 1;
        }
    }
    return name;
}

} // namespace

void MakeWindowTitle(char* title) {
    if (!TerminalSession.Uploading) {
        std::snprintf(title, WindowTitleCapacity, "%s", WindowTitle);
        return;
    }
    char ofTotal[OfLineTotalCapacity];
    std::snprintf(
        title, WindowTitleCapacity, "%s: line %ld%s - %s", FileName(TerminalSession.UploadPath),
        static_cast<long>(TerminalSession.UploadLineNumber), OfLineTotal(ofTotal), WindowTitle);
}
