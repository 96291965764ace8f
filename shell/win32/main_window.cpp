#include "shell/win32/main_window.h"

// After windows.h, which main_window.h brings.
#include <commctrl.h>

#include "core/pane.h"
#include "core/poll_cycle.h"
#include "core/terminal_session.h"

namespace {

constexpr const char* IconResourceName = "Icon32";

// Where a subclassed edit control keeps its own procedure; the subclass procedures find it
// again there. The pointer-sized calls are the 32-bit ones on a 32-bit build (winuser.h
// maps GetWindowLongPtrA to GetWindowLongA there), so one source serves both widths.
void Subclass(HWND control, WNDPROC procedure) {
    const LONG_PTR own = GetWindowLongPtrA(control, GWLP_WNDPROC);
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    SetWindowLongPtrA(control, GWLP_USERDATA, own);
}

HWND CreateChild(HINSTANCE instance, DWORD style, const RECT& client, int y, int height) {
    return CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | style, PaneLeftMargin, y,
                           client.right - PaneLeftMargin, height,
                           static_cast<HWND>(TerminalSession.MainWindow), nullptr, instance,
                           nullptr);
}

} // namespace

HWND MainWindowHandle() {
    return static_cast<HWND>(TerminalSession.MainWindow);
}

HWND OutputPaneHandle() {
    return static_cast<HWND>(TerminalSession.OutputPane);
}

HWND InputLineHandle() {
    return static_cast<HWND>(TerminalSession.InputLine);
}

bool RegisterMainClass(HINSTANCE instance) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    // Null when the program carries no such resource; the class then simply has no icon.
    windowClass.hIcon = LoadIconA(instance, IconResourceName);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    // "WNDCLASSA structure", Win32 documentation: a system colour is given as its index + 1.
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = MainWindowClassName;
    return RegisterClassA(&windowClass) != 0;
}

void CreateMainWindows(HINSTANCE instance) {
    // The program's manifest asks for the version 6 common controls, whose edit control shows
    // the input line's cue banner; they take over the "EDIT" class once loaded.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
    // The WM_SIZE sent during this call finds the panes missing and leaves the layout to the
    // creation below.
    TerminalSession.MainWindow = CreateWindowExA(
        0, MainWindowClassName, WindowTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
        CW_USEDEFAULT, WindowOuterWidth, WindowOuterHeight, nullptr, nullptr, instance, nullptr);
    RECT client{};
    GetClientRect(MainWindowHandle(), &client);

    TerminalSession.OutputPane =
        CreateChild(instance, WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_WANTRETURN, client, 0,
                    client.bottom - InputLineHeight);
    SendMessageA(OutputPaneHandle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    // The control's own default is far lower; the core keeps the pane within this limit by
    // giving up the oldest lines (core/output_pane.cpp).
    SendMessageA(OutputPaneHandle(), EM_LIMITTEXT, OutputPaneLimit, 0);

    TerminalSession.InputLine = CreateChild(instance, WS_DLGFRAME | ES_AUTOHSCROLL, client,
                                            client.bottom - InputLineHeight, InputLineHeight);
    SendMessageA(InputLineHandle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    // Only this much of the line is ever read and sent, so no more can be typed: what the
    // user sees is what goes out.
    SendMessageA(InputLineHandle(), EM_LIMITTEXT, InputLineCapacity - 1, 0);

    SetFocus(InputLineHandle());
    Subclass(InputLineHandle(), InputLineProc);
    Subclass(OutputPaneHandle(), OutputPaneProc);
    SetTimer(MainWindowHandle(), PollTimerId, PollIntervalMilliseconds, nullptr);
    ShowTerminalState(false);
}
