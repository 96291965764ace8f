// The pane primitives of core/pane_primitives.h over the two edit controls. Every operation is a
// synchronous SendMessageA, so the text has changed by the time the core goes on.
#include "core/pane_primitives.h"
#include "shell/win32/main_window.h"

namespace {

// WM_GETTEXT copies only from the start, so the whole pane is read to reach a later stretch;
// it is done only when room is made, once in every OutputPaneTrimBlock characters.
char WholeText[OutputPaneLimit + 1];

LRESULT SendToPane(UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(OutputPaneHandle(), message, wParam, lParam);
}

void ReplaceSelection(const char* text) {
    // wParam 0: no undo, so the control keeps no copy of the text that goes.
    SendToPane(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(text));
}

} // namespace

std::size_t PaneLength() {
    return static_cast<std::size_t>(SendToPane(WM_GETTEXTLENGTH, 0, 0));
}

const char* WholePaneText(std::size_t* length) {
    *length = static_cast<std::size_t>(
        SendToPane(WM_GETTEXT, sizeof WholeText, reinterpret_cast<LPARAM>(WholeText)));
    return WholeText;
}

std::size_t PaneCopy(std::size_t start, char* buffer, std::size_t count) {
    std::size_t length = 0;
    WholePaneText(&length);
    if (start >= length) {
        return 0;
    }
    const std::size_t copied = length - start < count ? length - start : count;
    for (std::size_t i = 0; i < copied; ++i) {
        buffer[i] = WholeText[start + i];
    }
    return copied;
}

void PaneErase(std::size_t count) {
    SendToPane(EM_SETSEL, 0, static_cast<LPARAM>(count));
    ReplaceSelection("");
}

void PaneInsertAtEnd(const char* text, PaneText /*from*/) {
    SendToPane(EM_SETSEL, OutputPaneEnd, static_cast<LPARAM>(OutputPaneEnd));
    ReplaceSelection(text);
}

void ReadInputLine(char* buffer, std::size_t capacity) {
    SendMessageA(InputLineHandle(), WM_GETTEXT, capacity, reinterpret_cast<LPARAM>(buffer));
}

void ClearInputLine() {
    SendMessageA(InputLineHandle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
}
