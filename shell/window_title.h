// The main window's title, alike in both window shells: WindowTitle, or while "rp!" runs the
// program file's name and how far the upload has come, as in
// "blink.txt: line 12 of 2000 - Varnoth serial terminal". The line is the one being sent,
// counted as the upload counts (a piece of a long line is a line). The shells set it after
// every poll tick, the only time the upload moves on.
#pragma once

#include <cstddef>

#include "core/terminal_session.h"

// The longest path, the two counts and the words around them.
constexpr std::size_t WindowTitleCapacity = UploadPathCapacity + 64;

// Writes the title for the session as it stands into `title`, of WindowTitleCapacity bytes.
void MakeWindowTitle(char* title);
