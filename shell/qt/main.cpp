// The Linux program: the terminal in a Qt window, or in the text console (shell/console) when
// asked to or when no display can be had.
#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>

#include "core/port_connection.h"
#include "core/session_log.h"
#include "core/terminal_session.h"
#include "shell/console/console_terminal.h"
#include "shell/exit_signals_posix.h"
#include "shell/qt/program_options.h"
#include "shell/qt/terminal_window.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string ProgramFile;

int RunConsoleThenStopLog() {
    const int status = RunConsole(ProgramFile.c_str());
    StopLog();
    return status;
}

[[noreturn]] void RunConsoleInstead(const char* why) {
    std::fprintf(stderr, "varnoth-terminal: %s; the terminal runs in the text console instead\n",
                 why);
    std::exit(RunConsoleThenStopLog());
}

// Qt ends the program when no platform plugin can start, as when DISPLAY names an X server
// that is not there; its last word comes through here first.
void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg && message.contains(QStringLiteral("platform plugin"))) {
        RunConsoleInstead("no display could be reached");
    }
    qInstallMessageHandler(nullptr);
    qt_message_output(type, context, message);
    qInstallMessageHandler(OnQtMessage);
}

bool Set(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] != '\0';
}

} // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so they need no display.
    ProgramOptions options;
    const int answered = ReadProgramOptions(argc, argv, &options);
    if (answered >= 0) {
        return answered;
    }
    // A path too long for the session record is refused by the core, and "rp!" then says so.
    ProgramFile = options.programPath;
    SetUploadPath(ProgramFile.c_str());
    // A log that cannot be had is said before any window opens.
    char reason[LogFileReasonCapacity] = "";
    if (options.logPath != nullptr && !StartLog(options.logPath, reason)) {
        std::fprintf(stderr, "varnoth-terminal: cannot log to %s: %s\n", options.logPath, reason);
        return ExitUsage;
    }
    if (options.console) {
        return RunConsoleThenStopLog();
    }
    // Qt is shown only the program's name and takes no options (-platform, -style ...) from the
    // command line; its environment variables (QT_QPA_PLATFORM, QT_SCALE_FACTOR ...) still apply.
    int qtArgc = argc > 0 ? 1 : 0;
    // QT_QPA_PLATFORM (offscreen, vnc ...) needs neither.
    if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
        RunConsoleInstead("no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
    }
    qInstallMessageHandler(OnQtMessage);
    QApplication application(qtArgc, argv);
    // The installed desktop entry and icon: Wayland matches the window to the entry by this
    // name, X11 desktops take the icon from the window.
    QGuiApplication::setDesktopFileName("varnoth-terminal");
    QApplication::setWindowIcon(QIcon::fromTheme("varnoth-terminal"));
    // SIGTERM, SIGINT and SIGHUP (the terminal it was started from closed) end the program as
    // closing the window does, so that the port is closed either way.
    CatchExitSignals();
    QSocketNotifier exitSignal(ExitSignalDescriptor(), QSocketNotifier::Read);
    QObject::connect(&exitSignal, &QSocketNotifier::activated, &application,
                     &QCoreApplication::quit);
    TerminalWindow window;
    window.show();
    // Closing the window, the last one, ends the loop with 0.
    const int status = application.exec();
    ClosePortIfOpen();
    StopLog();
    return status;
}
