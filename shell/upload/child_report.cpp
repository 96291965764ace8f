// The child's side of the report lines of shell/upload/many_ports.h, written on standard error.
#include <cstdio>

#include "shell/upload/many_ports.h"
#include "shell/upload/upload_console.h"

namespace {

bool Reporting = false;
// After `absent` or `end` the parent expects nothing more.
bool Ended = false;
std::int32_t LinesReported = -1;

// One line a call, flushed at once: the parent shows progress as it comes. The line is cut to
// what the parent reads.
void WriteLine(const char* line) {
    if (Ended) {
        return;
    }
    std::fprintf(stderr, "%.*s\n", static_cast<int>(ReportLineCapacity - 2), line);
    std::fflush(stderr);
}

} // namespace

void ReportToParent() {
    Reporting = true;
}

bool ReportingToParent() {
    return Reporting;
}

void ReportDevice(const char* name) {
    char line[ReportLineCapacity];
    std::snprintf(line, sizeof line, "device %s", name[0] != '\0' ? name : "-");
    WriteLine(line);
}

void ReportAcknowledged(std::int32_t lines) {
    if (lines == LinesReported) {
        return;
    }
    LinesReported = lines;
    char line[ReportLineCapacity];
    std::snprintf(line, sizeof line, "line %ld", static_cast<long>(lines));
    WriteLine(line);
}

void ReportAbsent() {
    WriteLine("absent");
    Ended = true;
}

void ReportEnd(int status, std::int32_t lines, double seconds) {
    char line[ReportLineCapacity];
    std::snprintf(line, sizeof line, "end %d %ld %.1f %s", status, static_cast<long>(lines),
                  seconds, LastSaid());
    WriteLine(line);
    Ended = true;
}
