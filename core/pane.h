// The only way the terminal core reaches the screen.
//
// Each window shell provides the primitives below over its own controls; the core builds the
// four pane operations on top of them, so that every shell keeps the output pane within the
// same limit in the same way. Text is 8-bit characters; a CR LF counts as two.
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

// ---- Defined by the core (core/output_pane.cpp), over the shell's primitives below: what
// the core's own parts call to write to the output pane.
void AppendOutput(const char* text);
void ClearOutput();

// ---- Owed by every shell (each window, varnoth-upload's console, the tests' fake pane).
// The input line: its text, at most capacity - 1 characters and a NUL; and emptying it.
void ReadInputLine(char* buffer, std::size_t capacity);
void ClearInputLine();
// The output pane: how many characters it holds.
std::size_t PaneLength();
// Copies up to count characters from position start into buffer (no NUL added) and returns
// how many were copied.
std::size_t PaneCopy(std::size_t start, char* buffer, std::size_t count);
// Removes the first count characters.
void PaneErase(std::size_t count);
// Puts text after the last character of the pane.
void PaneInsertAtEnd(const char* text);
