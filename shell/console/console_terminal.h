// The text console: the terminal inside the terminal it was started from, for ssh sessions and
// board computers without a display. `varnoth-terminal --console [PROGRAM-FILE]` runs it, and so
// does the program by itself when no display can be had.
//
// Principles of operation. The console is a third shell over the same core, beside the two
// windows: it calls PollTick every 100 ms and ExecuteInputLine when a line is entered, and its
// pane primitives reach the core through shell/pane_router.h. It runs one of two ways.
//
// On a screen (standard input and output both terminals that can place the cursor), the
// device's text scrolls in the rows above, a status line shows what the window's title shows
// (shell/window_state.h), and the rows at the bottom hold the input line, which libedit edits
// with a shell's keys; Up and Down go through shell/input_history.h. The device's text is
// written into its own rows, the cursor saved before and put back after, so it never lands in
// the line being typed; and it is written as the window shows it (shell/pane_characters.h), so
// no byte of it reaches the terminal as a control. The console keeps the pane's bytes, as the
// window does, and draws the screen afresh from them when the terminal's size changes, when the
// input line needs a row more or less, and after a suspension. It draws on the terminal's
// alternate screen, with the sequences its terminfo entry gives, and at every way out leaves
// the user's screen, the terminal's modes and the scroll region as they were.
//
// From a script (standard input or output not a terminal), each line read is run as if typed;
// what the device sends goes to standard output, each byte as the screen shows it, and the
// terminal's words to standard error. At the end of the input the console waits for a running
// upload to end and for the device to be quiet for a second, then ends with status 0.
//
// console_terminal.cpp chooses the way and holds what both share (the line the core reads, the
// tick clock); console_screen.cpp draws the screen; console_editor.cpp runs libedit and the loop
// around it; console_script.cpp reads a script.
#pragma once

// Runs the console with `programFile` as the file "rp!" uploads (empty: none named) and returns
// the program's exit status.
int RunConsole(const char* programFile);
