// The program's entry. The platform's start-up code hands WinMain the command line without
// the program's own name: that rest names the program file to upload.
#include "core/port_connection.h"
#include "core/session_log.h"
#include "shell/win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLineRest,
                   int /*showCommand: the main window is created visible*/) {
    TakeUploadPath(commandLineRest);
    if (previousInstance == nullptr && !RegisterMainClass(instance)) {
        return 0;
    }
    CreateMainWindows(instance);
    MSG message{};
    // "GetMessage", Win32 documentation: -1 means invalid arguments, which this call never
    // passes; only 0 (WM_QUIT) ends the loop.
    while (GetMessageA(&message, nullptr, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // Windows would release it with the process; closed here, the port is free at once for
    // the next program, whatever follows.
    ClosePortIfOpen();
    StopLog();
    return static_cast<int>(message.wParam);
}
