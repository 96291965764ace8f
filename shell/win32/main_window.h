// The Win32 window shell: the main window with its two edit controls, and the procedures
// that route the platform's messages to the terminal core.
#pragma once

#include <windows.h>

// The class name and the window title are the same text.
constexpr const char* MainWindowClassName = "Varnoth serial terminal";
constexpr const char* MainWindowTitle = "Varnoth serial terminal";
// Outer size of the main window at start, frame included.
constexpr int MainWindowWidth = 640;
constexpr int MainWindowHeight = 512;
// The strip left of both panes, and the input line's height under the output pane.
constexpr int PaneLeftMargin = 8;
constexpr int InputLineHeight = 24;
// Period of the poll timer that drives PollTick.
constexpr UINT PollPeriodMilliseconds = 100;

bool RegisterMainClass(HINSTANCE instance);
// Creates the main window and its panes, subclasses the panes and starts the poll timer.
// There is no failure path: the message loop runs whatever CreateWindowExA returned.
void CreateMainWindows(HINSTANCE instance);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK OutputPaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK InputLineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Stores the program file named by the command-line rest as the upload path.
void TakeUploadPath(const char* commandLineRest);

// The session's window handles, as the window shell knows them.
HWND MainWindowHandle();
HWND OutputPaneHandle();
HWND InputLineHandle();
