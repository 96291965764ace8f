// The text console from a script: the lines of standard input run as if typed, the device's
// text on standard output, the terminal's words on standard error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "core/input_line_commands.h"
#include "core/poll_cycle.h"
#include "core/terminal_session.h"
#include "shell/console/console_parts.h"
#include "shell/exit_signals_posix.h"
#include "shell/window_state.h"

namespace {

// At the end of the input the device is given this many quiet ticks (a second) to answer the
// last lines before the program ends, and as long to answer a line before the next runs.
constexpr int QuietTicksAtEnd = 10;
constexpr std::size_t ReadChunk = 4096;

bool DeviceSpoke = false;

// The device's text as the screen shows it (shell/pane_characters.h), line feeds as they
// came: the line breaks the core adds to the pane, where a chunk ends or the core's CR
// before each LF, are the window's, not the device's.
void ScriptPaneInsertAtEnd(const char* text, PaneText from) {
    if (from == PaneText::Terminal) {
        std::fputs(text, stderr);
        std::fflush(stderr);
        return;
    }
    if (from == PaneText::ChunkEnd) {
        return;
    }
    DeviceSpoke = true;
    std::string shown;
    for (const char* at = text; *at != '\0'; ++at) {
        shown += ShownAs(static_cast<unsigned char>(*at));
    }
    // As it arrives, also into a pipe or a file; a reader that went away is no reason to stop.
    if (std::fwrite(shown.data(), 1, shown.size(), stdout) != shown.size() ||
        std::fflush(stdout) != 0) {
        std::clearerr(stdout);
    }
}

// Nothing written to the streams is kept, so the pane is always empty.
std::size_t ScriptPaneLength() {
    return 0;
}

std::size_t ScriptPaneCopy(std::size_t /*start*/, char* /*buffer*/, std::size_t /*count*/) {
    return 0;
}

void ScriptPaneErase(std::size_t /*count*/) {}

const PaneShell ScriptPane = {ScriptPaneLength,      ScriptPaneCopy, ScriptPaneErase,
                              ScriptPaneInsertAtEnd, ReadTakenLine,  ClearTakenLine};

// A line of a file made on Windows ends in CR LF; the CR is no part of what was typed.
void RunLine(std::string line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    TakeLine(line.data(), line.size());
    ExecuteInputLine(false);
}

} // namespace

int RunScript() {
    RoutePaneTo(&ScriptPane);
    TickClock ticks;
    WindowState state;
    std::string pending;
    bool inputEnded = false;
    // The first line need not wait.
    int quietTicks = 0;
    int ticksSinceLine = QuietTicksAtEnd;
    bool answered = false;
    while (!ExitSignalCaught() &&
           !(inputEnded && pending.empty() && !TerminalSession.Uploading &&
             quietTicks >= QuietTicksAtEnd)) {
        const bool lineWaiting = pending.find('\n') != std::string::npos;
        pollfd waits[] = {{inputEnded || lineWaiting ? -1 : STDIN_FILENO, POLLIN, 0},
                          {ExitSignalDescriptor(), POLLIN, 0}};
        if (poll(waits, 2, ticks.MillisecondsLeft()) < 0 && errno != EINTR) {
            std::fprintf(stderr, "varnoth-terminal: %s\n", std::strerror(errno));
            break;
        }
        if ((waits[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char chunk[ReadChunk];
            const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
            if (got > 0) {
                pending.append(chunk, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                if (got < 0) {
                    std::fprintf(stderr, "varnoth-terminal: reading the input: %s\n",
                                 std::strerror(errno));
                }
                inputEnded = true;
                // A last line without its line feed is a line all the same.
                if (!pending.empty()) {
                    pending += '\n';
                }
            }
        }
        // A script types faster than a person: each line waits until the device has answered
        // the one before and then been quiet for a tick, or for a second at most, so that
        // "rp!" right after "id" does not take the identification for the first line's answer;
        // and no line lands in the middle of an upload.
        const std::size_t end = pending.find('\n');
        if (end != std::string::npos && !TerminalSession.Uploading &&
            ((answered && quietTicks >= 1) || ticksSinceLine >= QuietTicksAtEnd)) {
            RunLine(pending.substr(0, end));
            pending.erase(0, end + 1);
            quietTicks = 0;
            ticksSinceLine = 0;
            answered = false;
        }
        if (ticks.TakeTick()) {
            DeviceSpoke = false;
            PollTick();
            quietTicks = DeviceSpoke ? 0 : quietTicks + 1;
            answered = answered || DeviceSpoke;
            ++ticksSinceLine;
            char title[WindowTitleCapacity];
            char placeholder[PlaceholderCapacity];
            // How an upload ended, in the words the window's title uses.
            if (UpdateWindowState(&state, false, title, placeholder)) {
                std::fprintf(stderr, "%s\n", state.uploadEnd);
            }
        }
    }
    return 0;
}
