// The Linux program: the terminal in a Qt window.
#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>

#include "core/port_connection.h"
#include "core/terminal_session.h"
#include "shell/exit_signals_posix.h"
#include "shell/qt/command_line.h"
#include "shell/qt/program_options.h"
#include "shell/qt/terminal_window.h"

int main(int argc, char** argv) {
    // Answered before Qt starts, so they need no display.
    const CommandLineOption option = SoleOption(argc, argv);
    if (option != CommandLineOption::None) {
        return RunOption(option);
    }
    // A path too long for the session record is refused by the core, and "rp!" then says
    // there is no program to upload.
    SetUploadPath(ProgramFilePath(argc, argv).c_str());
    // Every argument belongs to the path, so Qt is shown only the program's name and takes no
    // options (-platform, -style ...) from the command line; its environment variables
    // (QT_QPA_PLATFORM, QT_SCALE_FACTOR ...) still apply.
    int qtArgc = argc > 0 ? 1 : 0;
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
    return status;
}
