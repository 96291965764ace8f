// The upload program's console on Win32: a console control handler raises the interrupt flag
// and sets an event, and the wait between ticks waits on that event.
#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include "shell/upload/upload_console.h"

namespace {

volatile LONG InterruptFlag = 0;
// Manual-reset: once set it stays set, so every later wait returns at once.
HANDLE WakeUpEvent = nullptr;

// "HandlerRoutine callback function", Win32 documentation: it runs on a thread of its own.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    // A second event while the first is still being handled ends the program the ordinary
    // way (the next handler in the chain, the default one, calls ExitProcess).
    if (InterlockedExchange(&InterruptFlag, 1) != 0) {
        return FALSE;
    }
    SetEvent(WakeUpEvent);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        return TRUE;
    }
    // Closing the console, logging off or shutting down ends the process as soon as this
    // returns; waiting here lets the main thread close the port and exit first (the system
    // ends the process after a few seconds in any case).
    Sleep(INFINITE);
    return TRUE;
}

// The console's own cursor calls work on every Windows, whether or not the console
// understands escape sequences. Moves the cursor `rows` up, no higher than the top, to
// `column`; a row wider than the console has wrapped, so the cursor stops at its last column.
void PlaceCursor(std::size_t rows, std::size_t column) {
    std::fflush(stderr);
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    if (!GetConsoleScreenBufferInfo(console, &screen)) {
        return;
    }
    COORD place = screen.dwCursorPosition;
    const SHORT up = static_cast<SHORT>(rows < static_cast<std::size_t>(place.Y) ? rows : place.Y);
    place.Y = static_cast<SHORT>(place.Y - up);
    const std::size_t lastColumn = static_cast<std::size_t>(screen.dwSize.X - 1);
    place.X = static_cast<SHORT>(column < lastColumn ? column : lastColumn);
    SetConsoleCursorPosition(console, place);
}

} // namespace

void CatchInterrupts() {
    WakeUpEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool InterruptRequested() {
    return InterlockedCompareExchange(&InterruptFlag, 0, 0) != 0;
}

void WaitUnlessInterrupted(unsigned milliseconds) {
    WaitForSingleObject(WakeUpEvent, milliseconds);
}

// A console answers GetConsoleMode; a file, a pipe or the NUL device does not.
bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void MoveCursorToEndOfRowAbove(std::size_t column) {
    PlaceCursor(1, column);
}

void MoveCursorUpRows(std::size_t rows) {
    PlaceCursor(rows, 0);
}

// The window onto the screen buffer, not the buffer: rows drawn in place must all be seen.
bool TerminalSize(std::size_t* columns, std::size_t* rows) {
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &screen)) {
        return false;
    }
    *columns = static_cast<std::size_t>(screen.srWindow.Right - screen.srWindow.Left + 1);
    *rows = static_cast<std::size_t>(screen.srWindow.Bottom - screen.srWindow.Top + 1);
    return true;
}

// The C runtime's text mode would widen every LF the device sends to CR LF.
void PrepareStandardOutput() {
    _setmode(_fileno(stdout), _O_BINARY);
}
