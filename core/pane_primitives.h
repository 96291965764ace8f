// What every shell owes the terminal core: the primitives the pane operations of core/pane.h are
// built on, and the input line. Each window defines them over its own controls, varnoth-upload
// over the console, the tests over strings.
#pragma once

#include <cstddef>

#include "core/pane.h"

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
// Puts text after the last character of the pane; `from` says who it is from.
void PaneInsertAtEnd(const char* text, PaneText from);
