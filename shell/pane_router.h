// The Linux program carries two shells over one core, the window and the text console, and a
// program defines the core's primitives (core/pane_primitives.h) once: they are defined here and
// go to the shell that runs. Each shell hands over its own at start; until one does, the pane is
// empty and takes nothing, as it is before a window exists.
#pragma once

#include <cstddef>

#include "core/pane.h"

// A shell's pane primitives and input line, as core/pane_primitives.h describes them.
struct PaneShell {
    std::size_t (*length)();
    std::size_t (*copy)(std::size_t start, char* buffer, std::size_t count);
    void (*erase)(std::size_t count);
    void (*insertAtEnd)(const char* text, PaneText from);
    void (*readInputLine)(char* buffer, std::size_t capacity);
    void (*clearInputLine)();
};

// From now on the core's primitives go to `shell` (nullptr: to none).
void RoutePaneTo(const PaneShell* shell);
