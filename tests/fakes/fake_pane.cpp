#include "tests/fakes/fake_pane.h"

#include "core/pane_primitives.h"

FakePaneState FakePane;

void ResetFakePane() {
    FakePane = FakePaneState{};
}

std::size_t PaneLength() {
    return FakePane.output.size();
}

std::size_t PaneCopy(std::size_t start, char* buffer, std::size_t count) {
    return FakePane.output.copy(buffer, count, start);
}

void PaneErase(std::size_t count) {
    FakePane.output.erase(0, count);
}

void PaneInsertAtEnd(const char* text, PaneText /*from*/) {
    FakePane.output += text;
}

void ReadInputLine(char* buffer, std::size_t capacity) {
    buffer[FakePane.input.copy(buffer, capacity - 1)] = '\0';
}

void ClearInputLine() {
    FakePane.input.clear();
}
