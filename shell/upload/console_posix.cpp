// The upload program's console on POSIX: the interrupt signals raise a flag and write to a
// pipe, and the wait between ticks is a poll on that pipe, so a signal that comes just before
// the wait starts still ends it (a flag alone would be seen only when the wait ran out).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "shell/upload/upload_console.h"

namespace {

volatile std::sig_atomic_t InterruptFlag = 0;
int WakeUpPipe[2] = {-1, -1};

void OnInterrupt(int) {
    const int savedErrno = errno;
    InterruptFlag = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(WakeUpPipe[1], &byte, 1);
    errno = savedErrno;
}

void MakeNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

} // namespace

void CatchInterrupts() {
    if (pipe(WakeUpPipe) == 0) {
        // Non-blocking: a handler must never wait on a full pipe.
        MakeNonBlocking(WakeUpPipe[0]);
        MakeNonBlocking(WakeUpPipe[1]);
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // The handler runs once; the next signal has its default action again.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // The terminal went away: as good as closing the console.
    sigaction(SIGHUP, &action, nullptr);
    // A reader of standard output that goes away must not cut an upload short.
    std::signal(SIGPIPE, SIG_IGN);
}

bool InterruptRequested() {
    return InterruptFlag != 0;
}

void WaitUnlessInterrupted(unsigned milliseconds) {
    if (InterruptFlag != 0) {
        return;
    }
    // An early return (another signal) is harmless: the caller waits again for what is left.
    pollfd entry{WakeUpPipe[0], POLLIN, 0};
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

// POSIX streams pass bytes unchanged already.
void PrepareStandardOutput() {}
