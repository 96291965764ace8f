// A record of the session in a file: a log line for every line the device sent, stamped with
// the local time its first byte was taken from the port; for every line sent to the device; for
// the terminal's own words and how each upload ended. Each line reads
//
//   2026-12-07 18:42:07.123 device   TELK7 simulated device\n
//   2026-12-07 18:42:09.456 sent     id\n
//   2026-12-07 18:42:11.020 terminal connected to port 1
//
// so that who spoke is clear even where the device's text looks like ours (its prompt is '>').
// What the device sent and what went to it are written byte for byte: control bytes, bytes from
// 0x80 up and the backslash as escapes (\r \n \t \\ \xHH), so the file is plain text and which
// bytes came can be read from it; a line the device ended with LF ends in \n, one that ended
// with the chunk (a prompt) does not. A device line that spans ticks stays one log line.
//
// Each piece is handed to the system as it comes (core/log_file.h), before the tick ends, so
// that `tail -f` follows the file and a killed program loses nothing it had shown: an open line
// then ends where the program did. An existing file is appended to. A write that fails stops
// the log, which the pane then says once (ReportLogFailure, core/pane.h); the session goes on.
#pragma once

#include <cstddef>

#include "core/log_file.h"

// Starts the log into `path`; false, with the system's reason, when the file cannot be opened.
// A log already running stops first.
bool StartLog(const char* path, char (&reason)[LogFileReasonCapacity]);
void StopLog();
// The file being logged into, or nullptr.
const char* LogPath();

// Who a log line is from.
enum class LogSource { Device, Sent, Terminal };

// Bytes of a line: the device's continue its open line and end it after LF; the terminal's
// words end their line at "\n" (their CR is dropped); a sent line is one line. `takenAt` is
// when they were taken or said (MonotonicMilliseconds).
void LogBytes(LogSource from, const char* bytes, std::size_t count, unsigned long long takenAt);
// A chunk the device sent has ended: its open line ends too.
void LogChunkEnd();
// Why the log stopped on its own ("the log stopped: PATH: REASON\n"), once; empty otherwise.
const char* TakeLogFailure();
