// The Win32 window shell: the main window with its two edit controls, and the procedures
// that route the platform's messages to the terminal core.
#pragma once

#include <windows.h>

#include <cstddef>

#include "shell/window_layout.h"

// Positions beyond any text the controls can hold (the pane holds 1,000,000 characters): an
// edit control takes such a position as the end of its text, so these select to the end
// without asking the control its length first.
constexpr WPARAM OutputPaneEnd = 9999999;
constexpr LPARAM InputLineEnd = 999999999;

// The class is named as the window is titled when no port is open, so that other programs
// (the test driver, automation tools) find the window by one name.
constexpr const char* MainWindowClassName = WindowTitle;

bool RegisterMainClass(HINSTANCE instance);
// Creates the main window and its panes, subclasses the panes and starts the poll timer.
// There is no failure path: the message loop runs whatever CreateWindowExA returned.
void CreateMainWindows(HINSTANCE instance);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK OutputPaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK InputLineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sets the title and the input line's cue banner for where the terminal stands
// (shell/window_state.h), after every tick and every line entered.
void ShowTerminalState(bool lineEntered);

// Stores the program file named by the command-line rest as the upload path.
void TakeUploadPath(const char* commandLineRest);

// The output pane's context menu: what the edit control's own menu does in a read-only pane
// (copy, select all) and saving the pane. The menu sends its command to the pane as WM_COMMAND
// with one of these identifiers.
constexpr WPARAM PaneMenuCopy = 1;
constexpr WPARAM PaneMenuSelectAll = 2;
constexpr WPARAM PaneMenuSaveAs = 3;
constexpr WPARAM PaneMenuFastUpload = 4;
constexpr WPARAM PaneMenuShowTimes = 5;
constexpr WPARAM PaneMenuShowHex = 6;
constexpr WPARAM PaneMenuLogToFile = 7;

// The poll timer, every 100 ms; and while a fast upload runs, the short timer that looks for
// what arrived (USER_TIMER_MINIMUM, 10 ms: "SetTimer", Win32 documentation).
constexpr UINT_PTR PollTimerId = 0;
constexpr UINT_PTR ArrivalTimerId = 1;

// Asks for a file and writes into it exactly the bytes the pane holds; a message box gives the
// system's reason when the file cannot be written.
void SavePaneAs();
// Asks for a file and logs the session into it (core/session_log.h); a message box gives the
// system's reason when it cannot be opened.
void LogToFile();
// The pane's whole text, valid until the next pane primitive; `length` gets its length.
const char* WholePaneText(std::size_t* length);

// The session's window handles, as the window shell knows them.
HWND MainWindowHandle();
HWND OutputPaneHandle();
HWND InputLineHandle();
