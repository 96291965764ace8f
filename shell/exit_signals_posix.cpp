#include "shell/exit_signals_posix.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "core/port_connection.h"

namespace {

constexpr int ExitSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t ExitFlag = 0;
int WakeUpPipe[2] = {-1, -1};
void (*volatile PutBack)() = nullptr;

// Only async-signal-safe calls: write, ioctl and close (ClosePort), sigaction, raise.
void OnExitSignal(int number) {
    const int savedErrno = errno;
    if (ExitFlag != 0) {
        ClosePortIfOpen();
        if (PutBack != nullptr) {
            PutBack();
        }
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigaction(number, &byDefault, nullptr);
        // Blocked while this handler runs, it ends the program as soon as the handler returns.
        raise(number);
        errno = savedErrno;
        return;
    }
    ExitFlag = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(WakeUpPipe[1], &byte, 1);
    errno = savedErrno;
}

void MakeNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

} // namespace

void CatchExitSignals() {
    if (pipe(WakeUpPipe) == 0) {
        // Non-blocking: a handler must never wait on a full pipe.
        MakeNonBlocking(WakeUpPipe[0]);
        MakeNonBlocking(WakeUpPipe[1]);
    }
    struct sigaction action {};
    action.sa_handler = OnExitSignal;
    // One handler at a time: a second signal waits until the first has raised the flag.
    sigemptyset(&action.sa_mask);
    for (const int number : ExitSignals) {
        sigaddset(&action.sa_mask, number);
    }
    for (const int number : ExitSignals) {
        sigaction(number, &action, nullptr);
    }
    // A program started with them blocked (varnoth-upload's children are) gets them now,
    // also one sent before it got here.
    sigprocmask(SIG_UNBLOCK, &action.sa_mask, nullptr);
}

void RunOnForcedExit(void (*putBack)()) {
    PutBack = putBack;
}

bool ExitSignalCaught() {
    return ExitFlag != 0;
}

int ExitSignalDescriptor() {
    return WakeUpPipe[0];
}
