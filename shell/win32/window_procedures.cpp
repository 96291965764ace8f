#include <windows.h>

#include <commctrl.h>

#include <cstring>

#include "core/input_line_commands.h"
#include "core/pane_primitives.h"
#include "core/pane.h"
#include "core/poll_cycle.h"
#include "core/session_log.h"
#include "shell/input_history.h"
#include "shell/win32/main_window.h"
#include "shell/window_state.h"

namespace {

// Virtual-key codes of letters are their upper-case ASCII codes; windows.h names none.
constexpr WPARAM KeyA = 'A';
// "WM_CONTEXTMENU", Win32 documentation: the menu key and Shift+F10 send no position.
constexpr LPARAM ContextMenuFromKeyboard = -1;

// The input line's, for the life of the window.
InputHistory History;

// The edit control's own procedure, kept in its user-data slot by CreateMainWindows.
LRESULT PassOn(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC own = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(control, GWLP_USERDATA));
    return CallWindowProcA(own, control, message, wParam, lParam);
}

// "GetKeyState", Win32 documentation: the high-order bit, and so a negative value, means
// the key is down.
bool KeyDown(int virtualKey) {
    return GetKeyState(virtualKey) < 0;
}

void TypeIntoInputLine(WPARAM character, LPARAM keyData) {
    SetFocus(InputLineHandle());
    SendMessageA(InputLineHandle(), WM_CHAR, character, keyData);
}

// Negative sizes from a tiny client area go to SetWindowPos as they are.
void LayOutPanes() {
    RECT client{};
    GetClientRect(MainWindowHandle(), &client);
    const int width = client.right - client.left;
    const int height = client.bottom;
    SetWindowPos(OutputPaneHandle(), HWND_TOP, PaneLeftMargin, 0, width - PaneLeftMargin,
                 height - InputLineHeight, SWP_FRAMECHANGED);
    SetWindowPos(InputLineHandle(), HWND_TOP, PaneLeftMargin, height - InputLineHeight,
                 width - PaneLeftMargin, InputLineHeight, SWP_FRAMECHANGED);
}

// What the title and the input line's cue banner show; the title is set only when it changes:
// every change redraws the frame and tells the taskbar.
WindowState State;
char ShownPlaceholder[PlaceholderCapacity];

// "EM_SETCUEBANNER", Win32 documentation: the text is UTF-16, and TRUE shows it also while the
// input line has the focus, which it has most of the time.
void ShowPlaceholder(const char* text) {
    if (std::strcmp(text, ShownPlaceholder) == 0) {
        return;
    }
    std::strcpy(ShownPlaceholder, text);
    wchar_t wide[PlaceholderCapacity];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, PlaceholderCapacity) > 0) {
        SendMessageA(InputLineHandle(), EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(wide));
    }
}

// "FlashWindowEx", Win32 documentation: the taskbar button flashes until the window is
// brought to the front.
void AskForAttention() {
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = MainWindowHandle();
    flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
    FlashWindowEx(&flash);
}

// Enter hands the line to the history before the core runs and empties it.
void RememberInputLine() {
    char line[InputLineCapacity];
    ReadInputLine(line, sizeof line);
    RememberLine(&History, line);
}

void ShowHistoryLine(HWND inputLine, const char* line) {
    if (line == nullptr) {
        return;
    }
    PassOn(inputLine, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(line));
    // The caret goes to the end, where typing goes on.
    PassOn(inputLine, EM_SETSEL, InputLineEnd, InputLineEnd);
}

// The menu the edit control would show, less what a read-only pane never allows (undo, cut,
// paste, delete), and "Save as...". Its commands come back as WM_COMMAND to the pane.
void ShowPaneMenu(HWND pane, LPARAM position) {
    const HMENU menu = CreatePopupMenu();
    if (menu == nullptr) {
        return;
    }
    DWORD start = 0;
    DWORD end = 0;
    SendMessageA(pane, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    POINT at{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    if (position == ContextMenuFromKeyboard) {
        at = {0, 0};
        ClientToScreen(pane, &at);
    }
    const bool built =
        AppendMenuA(menu, MF_STRING | (start == end ? MF_GRAYED : 0), PaneMenuCopy, "&Copy") &&
        AppendMenuA(menu, MF_STRING, PaneMenuSelectAll, "Select &All") &&
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr) &&
        AppendMenuA(menu, MF_STRING | (TerminalSession.FastUploads ? MF_CHECKED : 0),
                    PaneMenuFastUpload, "&Fast upload") &&
        AppendMenuA(menu, MF_STRING | (TerminalSession.ShowTimes ? MF_CHECKED : 0),
                    PaneMenuShowTimes, "Show &times") &&
        AppendMenuA(menu, MF_STRING | (TerminalSession.ShowHex ? MF_CHECKED : 0),
                    PaneMenuShowHex, "Show bytes in &hex") &&
        AppendMenuA(menu, MF_STRING | (LogPath() != nullptr ? MF_CHECKED : 0), PaneMenuLogToFile,
                    "&Log to file...") &&
        AppendMenuA(menu, MF_STRING, PaneMenuSaveAs, "&Save as...");
    if (built) {
        TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, pane, nullptr);
    }
    DestroyMenu(menu);
}

// The short timer runs while a fast upload does, and only then.
void WatchForArrivals() {
    if (FastUploadRunning()) {
        SetTimer(MainWindowHandle(), ArrivalTimerId, USER_TIMER_MINIMUM, nullptr);
    } else {
        KillTimer(MainWindowHandle(), ArrivalTimerId);
    }
}

} // namespace

void ShowTerminalState(bool lineEntered) {
    WatchForArrivals();
    char title[WindowTitleCapacity];
    char placeholder[PlaceholderCapacity];
    const bool uploadEnded =
        UpdateWindowState(&State, lineEntered, title, placeholder);
    char shown[WindowTitleCapacity] = "";
    GetWindowTextA(MainWindowHandle(), shown, sizeof shown);
    if (std::strcmp(title, shown) != 0) {
        SetWindowTextA(MainWindowHandle(), title);
    }
    ShowPlaceholder(placeholder);
    if (uploadEnded && GetForegroundWindow() != MainWindowHandle()) {
        AskForAttention();
    }
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        // The first WM_SIZE comes while the main window is still being created.
        if (MainWindowHandle() != nullptr && OutputPaneHandle() != nullptr &&
            InputLineHandle() != nullptr) {
            LayOutPanes();
        }
        return 0;
    case WM_CHAR:
        TypeIntoInputLine(wParam, lParam);
        return 0;
    case WM_TIMER:
        // A fast upload takes what arrived at either timer: the poll timer's tick still marks
        // its silences and ends its chunks.
        if (FastUploadRunning()) {
            PollArrived(0);
        } else if (wParam == PollTimerId) {
            PollTick();
        }
        ShowTerminalState(false);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// Typing in the output pane goes to the input line; Ctrl combinations such as copying a
// selection stay with the pane.
LRESULT CALLBACK OutputPaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CHAR && !KeyDown(VK_CONTROL)) {
        TypeIntoInputLine(wParam, lParam);
        return 0;
    }
    if (message == WM_CONTEXTMENU) {
        ShowPaneMenu(window, lParam);
        return 0;
    }
    if (message == WM_COMMAND && lParam == 0) {
        switch (LOWORD(wParam)) {
        case PaneMenuCopy:
            PassOn(window, WM_COPY, 0, 0);
            return 0;
        case PaneMenuSelectAll:
            PassOn(window, EM_SETSEL, 0, static_cast<LPARAM>(OutputPaneEnd));
            return 0;
        case PaneMenuFastUpload:
            // Used by the next "rp!"; off at every start, as the terminal keeps no settings.
            TerminalSession.FastUploads = !TerminalSession.FastUploads;
            return 0;
        case PaneMenuShowTimes:
            TerminalSession.ShowTimes = !TerminalSession.ShowTimes;
            return 0;
        case PaneMenuShowHex:
            ShowBytesInHex(!TerminalSession.ShowHex);
            return 0;
        case PaneMenuLogToFile:
            if (LogPath() != nullptr) {
                StopLog();
            } else {
                LogToFile();
            }
            ShowTerminalState(false);
            return 0;
        case PaneMenuSaveAs:
            SavePaneAs();
            return 0;
        }
    }
    return PassOn(window, message, wParam, lParam);
}

// The line is read, run and emptied before the edit control sees the Enter key, so the
// control only ever gets Enter on an empty line.
LRESULT CALLBACK InputLineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The program is its two panes: without the input line nothing can be typed, so its end
    // ends the program as the main window's does (both quit with 0, whichever comes first).
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message != WM_KEYDOWN) {
        return PassOn(window, message, wParam, lParam);
    }
    if (wParam == VK_RETURN) {
        // Only the left Ctrl key holds back the line feed. A local command's Enter stops
        // here; after a sent line the key goes on to the control, so that whatever else
        // watches the control's keys sees it, on a line that is empty by then.
        RememberInputLine();
        const bool local = ExecuteInputLine(KeyDown(VK_LCONTROL));
        ShowTerminalState(true);
        if (local) {
            return 0;
        }
    } else if ((wParam == VK_UP || wParam == VK_DOWN) && !KeyDown(VK_CONTROL)) {
        // With Ctrl the keys do what the control does with them.
        char typed[InputLineCapacity];
        ReadInputLine(typed, sizeof typed);
        ShowHistoryLine(window,
                        wParam == VK_UP ? RecallEarlier(&History, typed) : RecallLater(&History));
        return 0;
    } else if (wParam == KeyA && KeyDown(VK_CONTROL)) {
        // Not every Windows version's edit control selects all on Ctrl+A by itself.
        PassOn(window, EM_SETSEL, 0, InputLineEnd);
    }
    PassOn(window, message, wParam, lParam);
    return 0;
}
