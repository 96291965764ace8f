// What the terminal core writes to the screen: the output pane's operations and limits.
//
// The core builds these on the primitives every shell supplies (core/pane_primitives.h), so that
// each shell keeps the output pane within the same limit in the same way. Text is 8-bit
// characters; a CR LF counts as two. Each text is handed on with who it is from, so that a shell
// can keep the device's bytes apart from the terminal's words (varnoth-upload writes them to
// standard output and standard error).
#pragma once

#include <cstddef>

// The output pane holds at most this many characters; the oldest text gives way to the newest.
constexpr std::size_t OutputPaneLimit = 1000000;
// Room is made in blocks of at least this size, so that a full pane is not shifted on every
// append; that is a sixteenth of the pane's history, given up a block at a time.
constexpr std::size_t OutputPaneTrimBlock = OutputPaneLimit / 16;
// How far past the cut the pane is searched for a line end, so that whole lines go.
constexpr std::size_t OutputPaneLineSearch = 4096;
// The input line is read into this many bytes: at most 255 characters and a NUL.
constexpr std::size_t InputLineCapacity = 256;

// Who a text in the pane is from.
enum class PaneText {
    // What the device sent, as ConvertForDisplay shows it.
    Device,
    // The line break that ends a chunk the device sent, outside uploads.
    ChunkEnd,
    // The terminal's own words: reports and messages.
    Terminal,
};

// The terminal's own text, appended as it stands.
void AppendOutput(const char* text);
// A report of the terminal's own, on a line of its own: when the pane's last line holds text
// (the device's answers during an upload, say), a line break comes first.
void AppendReport(const char* text);
// What the device sent, already converted for display, taken from the port at `takenAt`
// (MonotonicMilliseconds).
void AppendDeviceText(const char* text, unsigned long long takenAt);
// What the device sent, as rows of hex bytes with their printable characters beside them, 16
// bytes a row as `hexdump -C` shows them: "6f 6b 3e 0d 0a ...  |ok>..|". A chunk starts a row
// of its own; a row goes on across the reads of a chunk, and the chunk's end ends it.
void AppendHexRows(const char* bytes, std::size_t count, unsigned long long takenAt);
// Shows what the device sends from now on in hex rows (ShowHex), or as text again, the open row
// ended first. Lines are led by their time while ShowTimes is set.
void ShowBytesInHex(bool on);
void ClearOutput();
// Says in the pane, once, why the session log stopped, if it did (core/session_log.h).
void ReportLogFailure();

// Ends a chunk that is still open, as the line going quiet would: outside an upload the pane
// gets its closing line break. Called at the end of every chunk and before the port it came
// from is closed.
void EndReceivedChunk();
