// The program-wide state: one record with static lifetime, reached directly by every part
// of the terminal core and by the window shells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "serial/serial_port.h"

// Opaque to the core; each window shell defines what a window handle is.
typedef void* WindowHandle;

// The path field holds the command-line rest; a longer path is refused, never cut.
constexpr std::size_t UploadPathCapacity = 512;
// The device takes at most 1,023 bytes per line; longer lines go out in pieces of this size.
constexpr std::size_t UploadLineCapacity = 1024;

// How the last upload ended, for the programs that report it; core/upload_report.h words it.
enum class UploadEnd : std::uint8_t {
    // No upload has been started, or the one started is still running.
    None,
    // Nothing was left to send: the file went out to its end.
    FileSent,
    // The device stopped the upload with '*'.
    StoppedByStar,
    // The device stopped the upload with '>'.
    StoppedByPrompt,
    // The retries were used up and the answer that gave up was silence (the time-out
    // marker; a device that sends that very byte cannot be told apart from silence).
    GaveUpOnSilence,
    // The retries were used up and the answer that gave up was a wrong byte.
    GaveUpOnWrongAnswer,
    // The retries were used up and the last send of the line went out short: the line stalled
    // and the rest of it was given up (UploadShortSent of it went out).
    GaveUpOnShortSend,
    // The device went away (unplugged, reset): nothing can be sent to it any more.
    DeviceGone,
    // The next line holds a NUL byte: the file is no program text (a pipe, which is read as it
    // goes; a file is refused before anything is sent).
    NotText,
    // Reading the program file failed after UploadLineNumber lines (UploadReadError says why).
    ReadFailed,
};

// Why the last "rp!" found no program to upload; core/upload_report.h words it.
enum class ProgramProblem : std::uint8_t {
    None,
    NotNamed,
    PathTooLong,
    NoSuchFile,
    Folder,
    NoPermission,
    // A NUL byte in line ProblemLineNumber: no program text.
    NulByte,
    // Opening or reading failed otherwise (ProblemError says why).
    Unreadable,
    // No line to send. "rp!" takes such a file as any other; varnoth-upload refuses it, since a
    // script that names an empty file has gone wrong before.
    Empty,
};

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
    // Of the last short send of the current line, the bytes that went out.
    std::size_t UploadShortSent = 0;
    // Whether the current line has had a short send said in the pane: it is said once a line.
    bool ShortSendSaid = false;
    // The system's error number when the upload ended with ReadFailed.
    int UploadReadError = 0;
    // Why the last program file was refused, the line that holds its NUL byte, and the
    // system's error number for Unreadable.
    ProgramProblem LastProgramProblem = ProgramProblem::None;
    std::int32_t ProblemLineNumber = 0;
    int ProblemError = 0;
    // SetUploadPath refused the path as too long: a cut path could name another file.
    bool UploadPathTooLong = false;
    // The number "open" gave the open port (for "open 0", the one detection kept); while a lost
    // port is waited for, the number it had.
    std::int32_t PortNumber = 0;
    // Whether the next upload is a fast one (core/poll_cycle.h), as the user chose; and whether
    // the running one is, as it was when it started.
    bool FastUploads = false;
    bool UploadIsFast = false;
    // A fast upload's clock readings (MonotonicMilliseconds): the last data, the last look,
    // 0 before the first; and the silence since the last tick period counted.
    unsigned long long LastArrivalAt = 0;
    unsigned long long LastArrivalPollAt = 0;
    unsigned QuietMilliseconds = 0;
    // When the running or last upload started (MonotonicMilliseconds), for how long it took.
    unsigned long long UploadStartedAt = 0;
    // How the pane shows what comes from now on, as the user chose: each line led by the time
    // its first byte came, and the device's bytes as rows of hex (core/pane.h).
    bool ShowTimes = false;
    bool ShowHex = false;
    // The pane's last line holds text (no line feed after it yet).
    bool PaneLineOpen = false;
    // The open chunk is shown in hex, and the bytes of its open row.
    bool ChunkInHex = false;
    char HexRow[16] = {};
    std::size_t HexRowLength = 0;
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
// path could name another file, so "rp!" then reports that the path is too long.
// Returns whether the path was kept.
bool SetUploadPath(const char* path);
