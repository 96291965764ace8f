// The screen as two strings: what the output pane holds and what the input line holds.
#pragma once

#include <string>

struct FakePaneState {
    std::string output;
    std::string input;
};

extern FakePaneState FakePane;

void ResetFakePane();
