// "Save as..." in the output pane's menu.
#include <windows.h>

#include <commdlg.h>

#include <cstdio>

#include "core/session_log.h"
#include "core/terminal_session.h"
#include "shell/win32/main_window.h"

namespace {

// The dialog's file name buffer: the longest path the ANSI calls take.
constexpr DWORD SavePathCapacity = MAX_PATH;
// Room for the system's reason, which is a sentence or two.
constexpr DWORD ReasonCapacity = 512;

bool WriteWholeFile(const char* path, const char* bytes, std::size_t count) {
    const HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // The pane holds at most OutputPaneLimit characters, so one write takes it all.
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(count);
    const bool wrote = WriteFile(file, bytes, size, &written, nullptr) && written == size;
    const DWORD error = GetLastError();
    const bool closed = CloseHandle(file) != 0;
    // The write's reason, not the close's, is what the user needs to hear.
    if (!wrote) {
        SetLastError(error);
    }
    return wrote && closed;
}

// The path and the system's own reason for the last error, in a message box.
void SayWhyNotSaved(const char* path) {
    const DWORD error = GetLastError();
    char reason[ReasonCapacity] = "";
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, reason, sizeof reason, nullptr) == 0) {
        std::snprintf(reason, sizeof reason, "system error %lu", error);
    }
    char message[SavePathCapacity + ReasonCapacity + 64];
    std::snprintf(message, sizeof message, "The pane could not be saved to %s:\n%s", path, reason);
    MessageBoxA(MainWindowHandle(), message, WindowTitle, MB_OK | MB_ICONERROR);
}

// Where the dialog opens: the program file's folder, or else the user's own folder.
void FindSaveFolder(char (&folder)[SavePathCapacity]) {
    char* name = nullptr;
    const DWORD length =
        TerminalSession.UploadPath[0] != '\0'
            ? GetFullPathNameA(TerminalSession.UploadPath, SavePathCapacity, folder, &name)
            : 0;
    if (length > 0 && length < SavePathCapacity && name != nullptr) {
        *name = '\0';
        return;
    }
    const DWORD got = GetEnvironmentVariableA("USERPROFILE", folder, SavePathCapacity);
    if (got == 0 || got >= SavePathCapacity) {
        folder[0] = '\0';
    }
}

// Asks for a file: a name to save to (`overwrite` asks before replacing one) or to log into.
// False when the user cancelled, or the dialog failed, which a message box says.
bool AskForFile(char (&path)[SavePathCapacity], const char* title, const char* filter,
                const char* extension, bool overwrite) {
    path[0] = '\0';
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = MainWindowHandle();
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrTitle = title;
    // Added to a name typed without an extension.
    dialog.lpstrDefExt = extension;
    char folder[SavePathCapacity];
    FindSaveFolder(folder);
    dialog.lpstrInitialDir = folder[0] != '\0' ? folder : nullptr;
    // The program's working folder stays where it was started.
    dialog.Flags = (overwrite ? OFN_OVERWRITEPROMPT : 0) | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (GetSaveFileNameA(&dialog)) {
        return true;
    }
    // "GetSaveFileNameA", Win32 documentation: 0 from CommDlgExtendedError is a cancel.
    const DWORD error = CommDlgExtendedError();
    if (error != 0) {
        char message[64];
        std::snprintf(message, sizeof message, "The file dialog failed (error 0x%lx).", error);
        MessageBoxA(MainWindowHandle(), message, WindowTitle, MB_OK | MB_ICONERROR);
    }
    return false;
}

} // namespace

void SavePaneAs() {
    char path[SavePathCapacity];
    if (!AskForFile(path, "Save the pane as", "Text files (*.txt)\0*.txt\0All files (*.*)\0*.*\0",
                    "txt", true)) {
        return;
    }
    std::size_t length = 0;
    const char* text = WholePaneText(&length);
    if (!WriteWholeFile(path, text, length)) {
        SayWhyNotSaved(path);
    }
}

void LogToFile() {
    char path[SavePathCapacity];
    // The log is appended to, never truncated: an existing file is no reason to ask.
    if (!AskForFile(path, "Log the session to", "Log files (*.log)\0*.log\0All files (*.*)\0*.*\0",
                    "log", false)) {
        return;
    }
    char reason[LogFileReasonCapacity] = "";
    if (!StartLog(path, reason)) {
        char message[SavePathCapacity + LogFileReasonCapacity + 64];
        std::snprintf(message, sizeof message, "The session cannot be logged to %s:\n%s", path,
                      reason);
        MessageBoxA(MainWindowHandle(), message, WindowTitle, MB_OK | MB_ICONERROR);
    }
}
