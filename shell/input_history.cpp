#include "shell/input_history.h"

#include <cstring>

namespace {

// Copies as much of `text` as a line holds.
void CopyLine(char* line, const char* text) {
    std::strncpy(line, text, InputHistoryLineCapacity - 1);
    line[InputHistoryLineCapacity - 1] = '\0';
}

// The line `back` places before the draft: 1 is the newest.
char* LineBack(InputHistory* history, std::size_t back) {
    return history->Lines[(history->Oldest + history->Count - back) % InputHistoryLimit];
}

} // namespace

void RememberLine(InputHistory* history, const char* line) {
    history->Back = 0;
    if (line[0] == '\0') {
        return;
    }
    char kept[InputHistoryLineCapacity];
    CopyLine(kept, line);
    if (history->Count > 0 && std::strcmp(LineBack(history, 1), kept) == 0) {
        return;
    }
    if (history->Count == InputHistoryLimit) {
        history->Oldest = (history->Oldest + 1) % InputHistoryLimit;
        --history->Count;
    }
    ++history->Count;
    std::memcpy(LineBack(history, 1), kept, InputHistoryLineCapacity);
}

const char* RecallEarlier(InputHistory* history, const char* typed) {
    if (history->Back == history->Count) {
        return nullptr;
    }
    if (history->Back == 0) {
        CopyLine(history->Draft, typed);
    }
    ++history->Back;
    return LineBack(history, history->Back);
}

const char* RecallLater(InputHistory* history) {
    if (history->Back == 0) {
        return nullptr;
    }
    --history->Back;
    return history->Back == 0 ? history->Draft : LineBack(history, history->Back);
}
