#include "tests/fakes/fake_pane.h"

#include <algorithm>
#include <cstring>

#include "core/pane.h"

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

void PaneInsertAtEnd(const char* text) {
    FakePane.output += text;
}

void ReadInputLine(char* buffer, std::size_t capacity) {
    const std::size_t count = std::min(FakePane.input.size(), capacity - 1);
    std::memcpy(buffer, FakePane.input.data(), count);
    buffer[count] = '\0';
}

void ClearInputLine() {
    FakePane.input.clear();
}
