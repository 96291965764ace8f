// Sends the program file to the device one line at a time, paced by the device's answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The device answers each line with one byte. Its firmware acknowledges with '+' or '-' and
// stops the transfer with '*' or '>' (its prompt); the two of each pair act alike here.
constexpr char AcknowledgePlus = '+';
constexpr char AcknowledgeMinus = '-';
constexpr char StopStar = '*';
constexpr char StopPrompt = '>';
// A line is retried (sent again) for at most this many bad answers; the next one gives up.
constexpr int UploadRetryLimit = 4;
// UploadLineTotal of a program file that is a pipe: it can be read only once, by the upload, so
// its lines are not counted beforehand.
constexpr std::int32_t UncountedLines = -2;

// How the last upload ended, kept for callers that report it (the window programs do not).
enum class UploadEnd : std::uint8_t {
    // No upload has been started, or the one started is still running.
    None,
    // Nothing was left to send: the file went out to its end (or to a line that begins with
    // NUL, which ends the program as the end of the file does).
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
    // The device went away (unplugged, reset): nothing can be sent to it any more.
    DeviceGone,
};

// Opens a program file for an upload. Returns nullptr when it cannot be read: no path, no such
// file, not allowed, a folder. A pipe is not read to find out, so that every byte of it goes to
// the upload.
std::FILE* OpenProgramFile(const char* path);

// Starts (or restarts) the upload of the file named by UploadPath and sends its first line.
// Returns ResultSuccess, or ResultFailure when no file is named or it cannot be read.
int StartUpload();

// Starts (or restarts) the upload of `file`, from OpenProgramFile, which the upload takes
// over and closes when it ends, and sends its first line.
void StartUploadOf(std::FILE* file);

// Acts on one byte the device sent during an upload (or on TimeoutMarker).
void UploadStep(char byte);

// Ends a running upload because its device went away, and closes the program file.
void AbandonUpload();

// Room for " of " and any 32-bit line total.
constexpr std::size_t OfLineTotalCapacity = 16;
// Writes into `text` what follows the upload's line number in a report: " of N", N its
// UploadLineTotal, or nothing when its lines were not counted (a pipe). Returns `text`.
const char* OfLineTotal(char (&text)[OfLineTotalCapacity]);
