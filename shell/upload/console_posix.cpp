// The upload program's console on POSIX: the interrupt signals are those that end every
// program of ours (shell/exit_signals_posix.h), and the wait between ticks is a poll on their
// descriptor, so a signal that comes just before the wait starts still ends it.
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "shell/exit_signals_posix.h"
#include "shell/upload/upload_console.h"

void CatchInterrupts() {
    CatchExitSignals();
    // A reader of standard output that goes away must not cut an upload short.
    std::signal(SIGPIPE, SIG_IGN);
}

bool InterruptRequested() {
    return ExitSignalCaught();
}

void WaitUnlessInterrupted(unsigned milliseconds) {
    if (ExitSignalCaught()) {
        return;
    }
    // An early return (another signal) is harmless: the caller waits again for what is left.
    pollfd entry{ExitSignalDescriptor(), POLLIN, 0};
    poll(&entry, 1, static_cast<int>(milliseconds));
}

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

// Every terminal a POSIX system runs understands these ECMA-48 sequences: up one row, then
// forward from the row's start.
void MoveCursorToEndOfRowAbove(std::size_t column) {
    std::fprintf(stderr, "\033[A\r");
    if (column > 0) {
        std::fprintf(stderr, "\033[%zuC", column);
    }
}

void MoveCursorUpRows(std::size_t rows) {
    if (rows > 0) {
        std::fprintf(stderr, "\033[%zuA", rows);
    }
    std::fputc('\r', stderr);
}

// The terminal driver knows the window's size (TIOCGWINSZ, tty_ioctl(4)); a terminal that was
// never told one says 0.
bool TerminalSize(std::size_t* columns, std::size_t* rows) {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        return false;
    }
    *columns = size.ws_col;
    *rows = size.ws_row;
    return true;
}

// POSIX streams pass bytes unchanged already.
void PrepareStandardOutput() {}
