// The children of shell/upload/many_ports.h on Linux: fork and exec of /proc/self/exe, each
// child's standard error a pipe, each in a process group of its own.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "shell/exit_signals_posix.h"
#include "shell/upload/many_ports.h"
#include "shell/upload/upload_console.h"

namespace {

// The program itself, as the kernel knows it, also when it was started by a relative path or
// through $PATH (proc(5)). Its target is what the children run, so that ps and top name them
// as the program, not "exe".
constexpr const char* OwnProgramLink = "/proc/self/exe";
constexpr std::size_t ProgramPathCapacity = 4096;
char OwnProgram[ProgramPathCapacity] = "";
// The program's name, the arguments of one child (shell/upload/many_ports.cpp: at most a
// dozen) and the nullptr after them.
constexpr int ArgumentCapacity = 16;
constexpr int ExitSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct Child {
    pid_t pid = -1;
    // The reading end of its standard error; -1 once read to its end.
    int report = -1;
};
Child Children[ChildCapacity];

void SayReason(char (&reason)[ChildReasonCapacity], const char* what) {
    std::snprintf(reason, sizeof reason, "%s: %s", what, std::strerror(errno));
}

sigset_t ExitSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : ExitSignals) {
        sigaddset(&set, number);
    }
    return set;
}

// Between fork and exec: only async-signal-safe calls, and _exit.
[[noreturn]] void BecomeChild(pid_t parent, int reportEnd, char* const* argv) {
    // In a group of its own, the terminal's Ctrl+C reaches only the parent, which passes it on
    // once.
    setpgid(0, 0);
    // A parent that is killed outright must not leave uploads running.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) {
        _exit(ExitInterrupted);
    }
    const int nothing = open("/dev/null", O_RDWR);
    if (nothing < 0 || dup2(nothing, STDIN_FILENO) < 0 || dup2(nothing, STDOUT_FILENO) < 0 ||
        dup2(reportEnd, STDERR_FILENO) < 0) {
        _exit(ExitUsage);
    }
    // The exit signals stay blocked through exec, so one sent before the child catches them
    // waits for it (CatchExitSignals unblocks them) instead of ending it unheard.
    execv(OwnProgram, argv);
    _exit(127);
}

// The link's target, or the link itself when the target does not fit.
void FindOwnProgram() {
    const ssize_t length = readlink(OwnProgramLink, OwnProgram, sizeof OwnProgram - 1);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof OwnProgram - 1) {
        std::snprintf(OwnProgram, sizeof OwnProgram, "%s", OwnProgramLink);
        return;
    }
    OwnProgram[length] = '\0';
}

} // namespace

bool StartChild(int slot, const char* const* arguments, char (&reason)[ChildReasonCapacity]) {
    if (OwnProgram[0] == '\0') {
        FindOwnProgram();
    }
    char* argv[ArgumentCapacity] = {OwnProgram};
    for (int i = 0; arguments[i] != nullptr && i + 2 < ArgumentCapacity; ++i) {
        argv[i + 1] = const_cast<char*>(arguments[i]);
    }
    int pipeEnds[2];
    // Close-on-exec: a child that held another's pipe would keep it from ever ending.
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        SayReason(reason, "cannot make a pipe");
        return false;
    }
    const sigset_t exitSignals = ExitSignalSet();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &exitSignals, &before);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        BecomeChild(parent, pipeEnds[1], argv);
    }
    const int forkError = errno;
    sigprocmask(SIG_SETMASK, &before, nullptr);
    close(pipeEnds[1]);
    if (pid < 0) {
        close(pipeEnds[0]);
        errno = forkError;
        SayReason(reason, "cannot start a process");
        return false;
    }
    fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
    Children[slot] = {pid, pipeEnds[0]};
    return true;
}

void WaitForChildren(unsigned milliseconds) {
    pollfd entries[ChildCapacity + 1];
    nfds_t count = 0;
    for (const Child& child : Children) {
        if (child.report >= 0) {
            entries[count++] = {child.report, POLLIN, 0};
        }
    }
    // Once raised, the interrupt's descriptor stays readable: looked at only until then.
    if (!InterruptRequested()) {
        entries[count++] = {ExitSignalDescriptor(), POLLIN, 0};
    }
    // An early return (a signal) is harmless: the caller reads and waits again.
    poll(entries, count, static_cast<int>(milliseconds));
}

long ReadChild(int slot, char* buffer, std::size_t capacity) {
    Child& child = Children[slot];
    if (child.report < 0) {
        return -1;
    }
    const ssize_t got = read(child.report, buffer, capacity);
    if (got > 0) {
        return static_cast<long>(got);
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return 0;
    }
    close(child.report);
    child.report = -1;
    return -1;
}

int ReapChild(int slot) {
    Child& child = Children[slot];
    int how = 0;
    pid_t ended;
    while ((ended = waitpid(child.pid, &how, 0)) < 0 && errno == EINTR) {
    }
    child.pid = -1;
    if (ended < 0) {
        return -1;
    }
    return WIFEXITED(how) ? WEXITSTATUS(how) : 128 + WTERMSIG(how);
}

void InterruptChildren() {
    for (const Child& child : Children) {
        if (child.pid > 0) {
            kill(child.pid, SIGTERM);
        }
    }
}
