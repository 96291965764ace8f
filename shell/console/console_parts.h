// What the parts of the text console offer each other; console_terminal.h says how they fit.
#pragma once

#include <chrono>
#include <cstddef>
#include <cwchar>
#include <string>

#include "shell/pane_router.h"

// ---- console_terminal.cpp

// The line the core reads next (ReadInputLine): the text entered, in the locale's encoding or
// as wide characters, taken as Latin-1 as the window takes it (a character beyond Latin-1 goes
// out as '?'), at most InputLineCapacity - 1 characters.
void TakeLine(const char* text, std::size_t length);
void TakeWideLine(const wchar_t* text, std::size_t length);
void ReadTakenLine(char* buffer, std::size_t capacity);
void ClearTakenLine();

// `character` in the locale's encoding, '?' where the locale has none for it.
std::string Encoded(wchar_t character);
// How a byte of the pane shows, as shell/pane_characters.h says, in the locale's encoding;
// empty for a byte that shows as nothing. Valid once RunConsole has set the locale.
const std::string& ShownAs(unsigned char byte);

// The 100 ms tick, kept as a window's timer keeps it: a tick that ran late is not made up for
// by a burst.
class TickClock {
  public:
    TickClock();
    // Milliseconds until the next tick is due, 0 when it is.
    int MillisecondsLeft() const;
    // Whether a tick is due; when it is, the next one is planned.
    bool TakeTick();

  private:
    std::chrono::steady_clock::time_point next_;
};

// ---- console_screen.cpp

// Reads the terminal's entry; false, having said why on standard error, when it cannot place
// the cursor or keep a scroll region (a dumb terminal), so that no screen can be drawn.
bool PrepareScreen();
// The screen's size, read afresh from the terminal.
void MeasureScreen();
int ScreenColumns();
// Switches to the alternate screen and draws it all; LeaveScreen puts the user's screen back.
void EnterScreen(int inputRows);
void LeaveScreen();
// Draws the whole screen afresh for an input line of `inputRows` rows, ending with the cursor
// where the input line starts and RedrawInputLine.
void RedrawScreen(int inputRows);
// Clears the input line's rows and puts the cursor where it starts.
void ClearInputRows();
// The status line's text, drawn when it changes.
void ShowStatus(const char* text);
// Dims `text` after the cursor, at the start of the empty input line, as the window's
// placeholder shows; false when the terminal cannot dim. HidePlaceholder clears it again.
bool ShowPlaceholder(const char* text);
void HidePlaceholder();
// What LeaveScreen writes, for a program ended by a second signal: async-signal-safe.
void LeaveScreenFromSignal();
extern const PaneShell ScreenPane;

// ---- console_editor.cpp

// Runs the console on the screen until the user quits or a signal ends it.
int RunOnScreen();
// Has libedit draw the input line again from where the cursor is.
void RedrawInputLine();

// ---- console_script.cpp

// Runs the lines of standard input until it ends and the device has had its say.
int RunScript();
