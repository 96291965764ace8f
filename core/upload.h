// Sends the program file to the device one line at a time, paced by the device's answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/protocol.h"
#include "core/terminal_session.h"

// UploadLineTotal of a program file that is a pipe: it can be read only once, by the upload, so
// its lines are not counted beforehand.
constexpr std::int32_t UncountedLines = -2;

// Opens a program file for an upload and reads it through once with the upload's own rules:
// *lineCount gets the lines it sends. A file that holds a NUL byte is no program text and is
// refused. A pipe is not read ahead, so that every byte of it goes to the upload: its count is
// UncountedLines, and a NUL byte in it ends the upload when the upload reaches it. Returns
// nullptr when the file cannot be had, LastProgramProblem saying why.
std::FILE* OpenProgramFile(const char* path, std::int32_t* lineCount);

// Starts (or restarts) the upload of the file named by UploadPath and sends its first line.
// Returns ResultSuccess, or ResultFailure when the file cannot be had (LastProgramProblem says
// why); a running upload then goes on.
int StartUpload();

// Starts (or restarts) the upload of `file` and its `lineCount`, from OpenProgramFile; the
// upload takes the file over and closes it when it ends.
void StartUploadOf(std::FILE* file, std::int32_t lineCount);

// Acts on one byte the device sent during an upload (or on TimeoutMarker).
void UploadStep(char byte);

// Ends a running upload because its device went away, and closes the program file.
void AbandonUpload();
