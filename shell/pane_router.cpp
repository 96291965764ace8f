#include "shell/pane_router.h"

#include "core/pane_primitives.h"

namespace {

const PaneShell* Shell = nullptr;

} // namespace

void RoutePaneTo(const PaneShell* shell) {
    Shell = shell;
}

std::size_t PaneLength() {
    return Shell != nullptr ? Shell->length() : 0;
}

std::size_t PaneCopy(std::size_t start, char* buffer, std::size_t count) {
    return Shell != nullptr ? Shell->copy(start, buffer, count) : 0;
}

void PaneErase(std::size_t count) {
    if (Shell != nullptr) {
        Shell->erase(count);
    }
}

void PaneInsertAtEnd(const char* text, PaneText from) {
    if (Shell != nullptr) {
        Shell->insertAtEnd(text, from);
    }
}

void ReadInputLine(char* buffer, std::size_t capacity) {
    if (Shell == nullptr) {
        buffer[0] = '\0';
        return;
    }
    Shell->readInputLine(buffer, capacity);
}

void ClearInputLine() {
    if (Shell != nullptr) {
        Shell->clearInputLine();
    }
}
