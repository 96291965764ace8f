// The pane primitives of core/pane_primitives.h over the console, and the lines the program itself
// writes there.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/pane_primitives.h"
#include "core/terminal_session.h"
#include "shell/upload/many_ports.h"
#include "shell/upload/upload_console.h"

namespace {

// The core's own messages are one short line ("connected to port 3"); more is cut.
constexpr std::size_t CoreMessageCapacity = 512;
constexpr const char* MessagePrefix = "varnoth-upload: ";

char CoreMessage[CoreMessageCapacity];
char Said[SaidTextCapacity];
std::size_t CoreMessageLength = 0;
// Characters of the progress line now on the terminal; 0 when none is shown.
std::size_t ProgressWidth = 0;
// The device's text last written ends inside a line: the terminal's row holds this many of
// its characters. The progress line then goes on the row below, never on the device's row.
bool DeviceLineOpen = false;
std::size_t DeviceColumn = 0;
bool ProgressBelowDeviceLine = false;

void WriteBlanks(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::fputc(' ', stderr);
    }
}

// Leaves the cursor at the start of an empty line where the progress line was.
void WipeProgressLine() {
    if (ProgressWidth == 0) {
        return;
    }
    std::fputc('\r', stderr);
    WriteBlanks(ProgressWidth);
    std::fputc('\r', stderr);
    ProgressWidth = 0;
}

// Takes the progress line off before the device's text goes out, so that the text goes on
// where the device left its line; the next redraw puts the progress line back below it.
void MakeRoomForDeviceText() {
    WipeProgressLine();
    if (ProgressBelowDeviceLine) {
        MoveCursorToEndOfRowAbove(DeviceColumn);
        ProgressBelowDeviceLine = false;
    }
    std::fflush(stderr);
}

// The core widened every LF the device sent to CR LF for the window's edit control
// (ConvertForDisplay), in one piece of text, and ends each chunk with a CR LF of its own.
// Dropping each CR that comes right before an LF undoes exactly that: a CR the device sent
// itself is followed by the added CR, not by the LF, and stays. Standard output so carries the
// device's own bytes, and a line feed where each chunk outside an upload ended (the answers of
// an upload end in one), as the window starts a new line there.
void WriteDeviceText(const char* text) {
    for (const char* at = text; *at != '\0'; ++at) {
        if (at[0] != '\r' || at[1] != '\n') {
            std::fputc(*at, stdout);
        }
        DeviceLineOpen = *at != '\n';
        DeviceColumn = *at == '\n' || *at == '\r' ? 0 : DeviceColumn + 1;
    }
    // As it arrives, also when standard output is a pipe or a file.
    std::fflush(stdout);
}

void CollectCoreMessage(const char* text) {
    const std::size_t room = CoreMessageCapacity - 1 - CoreMessageLength;
    std::size_t length = std::strlen(text);
    if (length > room) {
        length = room;
    }
    std::memcpy(CoreMessage + CoreMessageLength, text, length);
    CoreMessageLength += length;
    CoreMessage[CoreMessageLength] = '\0';
}

} // namespace

// Nothing written to the console is kept, so the pane is always empty and the core never
// has to make room in it.
std::size_t PaneLength() {
    return 0;
}

std::size_t PaneCopy(std::size_t /*start*/, char* /*buffer*/, std::size_t /*count*/) {
    return 0;
}

void PaneErase(std::size_t /*count*/) {}

void PaneInsertAtEnd(const char* text, PaneText from) {
    if (from == PaneText::Terminal) {
        CollectCoreMessage(text);
        return;
    }
    MakeRoomForDeviceText();
    WriteDeviceText(text);
}

const char* TakeCoreMessage() {
    static char taken[CoreMessageCapacity];
    std::memcpy(taken, CoreMessage, CoreMessageLength + 1);
    CoreMessageLength = 0;
    CoreMessage[0] = '\0';
    return taken;
}

void DrawProgressLine(const char* text) {
    const std::size_t width = std::strlen(text);
    if (ProgressWidth == 0 && DeviceLineOpen) {
        std::fflush(stdout);
        std::fputc('\n', stderr);
        ProgressBelowDeviceLine = true;
    }
    std::fputc('\r', stderr);
    std::fputs(text, stderr);
    // Blanks over what is left of a longer line drawn before.
    if (width < ProgressWidth) {
        WriteBlanks(ProgressWidth - width);
        std::fputc('\r', stderr);
        std::fputs(text, stderr);
    }
    ProgressWidth = width;
    std::fflush(stderr);
}

void Say(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(Said, sizeof Said, format, arguments);
    va_end(arguments);
    // The parent reads standard error as report lines; the child's last words go into its end.
    if (ReportingToParent()) {
        return;
    }
    WipeProgressLine();
    // On a terminal the message starts a line of its own, not at the end of the device's
    // (where the progress line was, below it, is one already).
    if (DeviceLineOpen && !ProgressBelowDeviceLine && StandardErrorIsTerminal()) {
        std::fputc('\n', stderr);
    }
    DeviceLineOpen = false;
    ProgressBelowDeviceLine = false;
    DeviceColumn = 0;
    std::fprintf(stderr, "%s%s\n", MessagePrefix, Said);
    std::fflush(stderr);
}

const char* LastSaid() {
    return Said;
}
