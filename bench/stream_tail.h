// Shared by the benchmark drivers: how much of the simulated device's numbered stream has
// reached the pane, read through the pane primitives every shell provides.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/pane_primitives.h"

// The number of the newest numbered line the stream put in the pane. The stream may stop
// inside a line's number, so the largest whole one counts.
inline long LastStreamLine() {
    char tail[256] = {};
    const std::size_t length = PaneLength();
    const std::size_t start = length > sizeof tail - 1 ? length - (sizeof tail - 1) : 0;
    PaneCopy(start, tail, sizeof tail - 1);
    long last = 0;
    for (const char* at = std::strstr(tail, "stream "); at != nullptr;
         at = std::strstr(at + 1, "stream ")) {
        last = std::max(last, std::atol(at + 7));
    }
    return last;
}
