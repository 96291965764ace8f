// The children of shell/upload/many_ports.h on Windows: CreateProcess of the program's own
// file, each child's standard error an anonymous pipe, all of them on the parent's console.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "shell/upload/many_ports.h"
#include "shell/upload/upload_console.h"

namespace {

// CreateProcess takes a command line of at most 32,767 characters ("CreateProcessA function",
// Win32 documentation).
constexpr std::size_t CommandLineCapacity = 32768;
// A path as GetModuleFileNameA gives it, within the ANSI functions' limit.
constexpr DWORD ProgramPathCapacity = MAX_PATH;
// Anonymous pipes have no overlapped reads, so the wait looks at them this often.
constexpr unsigned LookMilliseconds = 20;

struct Child {
    HANDLE process = nullptr;
    // The reading end of its standard error; nullptr once read to its end.
    HANDLE report = nullptr;
};
Child Children[ChildCapacity];
HANDLE NullDevice = INVALID_HANDLE_VALUE;
char CommandLine[CommandLineCapacity];

void SayReason(char (&reason)[ChildReasonCapacity], const char* what) {
    char system[ChildReasonCapacity] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   GetLastError(), 0, system, sizeof system, nullptr);
    // The system's text ends in CR LF.
    system[std::strcspn(system, "\r\n")] = '\0';
    std::snprintf(reason, sizeof reason, "%s: %s", what, system);
}

// Quoted as the C runtime splits a command line back into arguments ("Parsing C command-line
// arguments", Microsoft documentation): backslashes are literal unless a quote follows them,
// so those before a quote, and before the closing quote, are doubled. False when it is full.
bool AppendArgument(std::size_t* length, const char* argument) {
    char* out = CommandLine + *length;
    char* const end = CommandLine + CommandLineCapacity - 4;
    if (*length > 0) {
        *out++ = ' ';
    }
    *out++ = '"';
    for (const char* at = argument;; ++at) {
        std::size_t backslashes = 0;
        for (; *at == '\\'; ++at) {
            ++backslashes;
        }
        const std::size_t copies = *at == '"' || *at == '\0' ? 2 * backslashes : backslashes;
        if (out + copies + 2 > end) {
            return false;
        }
        for (std::size_t i = 0; i < copies; ++i) {
            *out++ = '\\';
        }
        if (*at == '\0') {
            break;
        }
        if (*at == '"') {
            *out++ = '\\';
        }
        *out++ = *at;
    }
    *out++ = '"';
    *out = '\0';
    *length = static_cast<std::size_t>(out - CommandLine);
    return true;
}

bool HasEnded(HANDLE process) {
    return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

} // namespace

bool StartChild(int slot, const char* const* arguments, char (&reason)[ChildReasonCapacity]) {
    char program[ProgramPathCapacity];
    const DWORD pathLength = GetModuleFileNameA(nullptr, program, ProgramPathCapacity);
    if (pathLength == 0 || pathLength >= ProgramPathCapacity) {
        SayReason(reason, "cannot find the program's own file");
        return false;
    }
    std::size_t length = 0;
    bool fits = AppendArgument(&length, program);
    for (int i = 0; fits && arguments[i] != nullptr; ++i) {
        fits = AppendArgument(&length, arguments[i]);
    }
    if (!fits) {
        std::snprintf(reason, sizeof reason, "the command line is longer than Windows takes");
        return false;
    }
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    if (NullDevice == INVALID_HANDLE_VALUE) {
        NullDevice =
            CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &inherited, OPEN_EXISTING, 0, nullptr);
    }
    HANDLE reading = nullptr;
    HANDLE writing = nullptr;
    // Only the writing end is inherited, and it is closed here as soon as the child has it:
    // the children are started one after the other, so none inherits another's.
    if (NullDevice == INVALID_HANDLE_VALUE || !CreatePipe(&reading, &writing, &inherited, 0) ||
        !SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0)) {
        SayReason(reason, "cannot make a pipe");
        if (reading != nullptr) {
            CloseHandle(reading);
            CloseHandle(writing);
        }
        return false;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = NullDevice;
    startup.hStdOutput = NullDevice;
    startup.hStdError = writing;
    PROCESS_INFORMATION started{};
    const BOOL created = CreateProcessA(program, CommandLine, nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &started);
    if (!created) {
        SayReason(reason, "cannot start a process");
    }
    CloseHandle(writing);
    if (!created) {
        CloseHandle(reading);
        return false;
    }
    CloseHandle(started.hThread);
    Children[slot] = {started.hProcess, reading};
    return true;
}

// A pipe another process inherited may stay open after the child ends (wine's helpers keep
// theirs), so a child counts as ended when its process has, not when its pipe closes.
void WaitForChildren(unsigned milliseconds) {
    for (unsigned waited = 0;; waited += LookMilliseconds) {
        for (const Child& child : Children) {
            DWORD waiting = 0;
            if (child.report != nullptr &&
                (!PeekNamedPipe(child.report, nullptr, 0, nullptr, &waiting, nullptr) ||
                 waiting > 0 || HasEnded(child.process))) {
                return;
            }
        }
        if (waited >= milliseconds) {
            return;
        }
        // Once raised, the interrupt's event stays set: waited on only until then.
        if (InterruptRequested()) {
            Sleep(LookMilliseconds);
        } else {
            WaitUnlessInterrupted(LookMilliseconds);
        }
    }
}

long ReadChild(int slot, char* buffer, std::size_t capacity) {
    Child& child = Children[slot];
    if (child.report == nullptr) {
        return -1;
    }
    // Whether it had ended before the look: then what the look finds is all it wrote.
    const bool ended = HasEnded(child.process);
    DWORD waiting = 0;
    const bool open = PeekNamedPipe(child.report, nullptr, 0, nullptr, &waiting, nullptr) != 0;
    if (open && waiting > 0) {
        DWORD got = 0;
        const DWORD wanted = waiting < capacity ? waiting : static_cast<DWORD>(capacity);
        if (ReadFile(child.report, buffer, wanted, &got, nullptr) && got > 0) {
            return static_cast<long>(got);
        }
    } else if (open && !ended) {
        return 0;
    }
    CloseHandle(child.report);
    child.report = nullptr;
    return -1;
}

int ReapChild(int slot) {
    Child& child = Children[slot];
    DWORD status = 0;
    const bool known = WaitForSingleObject(child.process, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(child.process, &status);
    CloseHandle(child.process);
    child.process = nullptr;
    return known ? static_cast<int>(status) : -1;
}

// The children are on the parent's console, which has sent them the same Ctrl+C or close
// event ("CTRL+C and CTRL+BREAK Signals", Win32 documentation); there is nothing to pass on.
void InterruptChildren() {}
