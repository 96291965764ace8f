#include "core/input_line_commands.h"
#include "core/poll_cycle.h"
#include "shell/win32/main_window.h"

namespace {

// Virtual-key codes of letters are their upper-case ASCII codes; windows.h names none.
constexpr WPARAM KeyA = 'A';

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

} // namespace

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
        PollTick();
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
        if (ExecuteInputLine(KeyDown(VK_LCONTROL))) {
            return 0;
        }
    } else if (wParam == KeyA && KeyDown(VK_CONTROL)) {
        // Not every Windows version's edit control selects all on Ctrl+A by itself.
        PassOn(window, EM_SETSEL, 0, InputLineEnd);
    }
    PassOn(window, message, wParam, lParam);
    return 0;
}
