// The program-wide state: one record with static lifetime, reached directly by every part
// of the terminal core and by the window shells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/upload.h"
#include "serial/serial_port.h"

// Opaque to the core; each window shell defines what a window handle is.
typedef void* WindowHandle;

// The path field holds the command-line rest; a longer path is refused, never cut.
constexpr std::size_t UploadPathCapacity = 512;
// The device takes at most 1,023 bytes per line; longer lines go out in pieces of this size.
constexpr std::size_t UploadLineCapacity = 1024;

struct TerminalSessionRecord {
    SerialHandle PortHandle = InvalidPortHandle;
    char UploadPath[UploadPathCapacity] = {};
    std::FILE* UploadFile = nullptr;
    char UploadLine[UploadLineCapacity] = {};
    std::uint8_t Uploading = 0;
    std::int32_t RetryCount = 0;
    std::int32_t IdleTicks = 0;
    // Bytes of the chunk being received that earlier ticks already read: a tick reads for a
    // bounded time, so a chunk may span ticks; 0 when no chunk is open.
    std::size_t ReceivedInChunk = 0;
    // The number of the line the upload sent last, 1 for the file's first; each piece of a
    // long line counts as a line, as the device sees it. It stays where the upload ended.
    std::int32_t UploadLineNumber = 0;
    // The lines the running upload sends in all, counted by the upload's own reading rules
    // when it starts, so that a program can show how far it has come; UncountedLines for a
    // pipe, -1 before the first upload.
    std::int32_t UploadLineTotal = -1;
    UploadEnd LastUploadEnd = UploadEnd::None;
    // The number "open" gave the open port (for "open 0", the one detection kept); while a lost
    // port is waited for, the number it had.
    std::int32_t PortNumber = 0;
    // Set from the moment the open port's device goes away until it is back or "open" is typed.
    bool WaitingForLostPort = false;
    // Ticks left until the next look for the lost port's device.
    std::int32_t TicksUntilLookingForPort = 0;
    WindowHandle MainWindow = nullptr;
    WindowHandle OutputPane = nullptr;
    WindowHandle InputLine = nullptr;
};

extern TerminalSessionRecord TerminalSession;

// Result codes of StartUpload and ConnectPort.
constexpr int ResultSuccess = 0;
constexpr int ResultFailure = 4;

// Stores the program file's path. A path too long for UploadPath is not stored at all: a cut
// path could name another file, so "rp!" then reports that there is no program to upload.
// Returns whether the path was kept.
bool SetUploadPath(const char* path);
