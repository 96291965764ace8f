// The input line's history: the lines entered, which Up and Down bring back.
//
// Both window shells keep one for their input line and only route keys to it: Enter hands
// the line to RememberLine before it runs, Up asks for the line entered before the one shown,
// Down for the one after. The first Up keeps what was being typed (the draft), and Down past
// the newest line gives it back. Empty lines are not kept, nor a line equal to the one kept
// before it; past InputHistoryLimit lines the oldest goes. Fixed storage, no allocation.
#pragma once

#include <cstddef>

#include "core/pane.h"

// Enough to get back what was typed a while ago without scrolling through a session's worth.
constexpr std::size_t InputHistoryLimit = 100;
// The Linux window keeps its lines as UTF-8, and its input line takes as many UTF-16 units as
// the core reads bytes: at most three bytes each. The Win32 window's lines are single bytes.
constexpr std::size_t InputHistoryLineCapacity = 3 * (InputLineCapacity - 1) + 1;

struct InputHistory {
    // A ring: the oldest line is at Oldest, the newest Count - 1 places after it.
    char Lines[InputHistoryLimit][InputHistoryLineCapacity] = {};
    std::size_t Oldest = 0;
    std::size_t Count = 0;
    // How far back Up has gone: 0 while the draft is being typed, Count at the oldest line.
    std::size_t Back = 0;
    char Draft[InputHistoryLineCapacity] = {};
};

// Keeps `line` (cut to InputHistoryLineCapacity - 1 bytes) and goes back to the draft.
void RememberLine(InputHistory* history, const char* line);
// The line before the one shown, or nullptr when the oldest is shown or none is kept.
// `typed` is what the input line holds; it is kept as the draft when the draft is shown.
const char* RecallEarlier(InputHistory* history, const char* typed);
// The line after the one shown, the draft after the newest, or nullptr when the draft is
// shown already.
const char* RecallLater(InputHistory* history);
