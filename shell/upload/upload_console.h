// varnoth-upload: the terminal core's upload for scripts, without a window.
//
// Principles of operation. The program is one more shell over the same core. It connects as
// "open N" does (ConnectPort), starts the upload as "rp!" does (StartUploadOf), and then calls
// PollTick every 100 ms, as the windows' timers do, until the upload ends; so the device sees
// the same bytes at the same pace and cannot tell the programs apart. The console stands in
// for the output pane: the core says who each text it appends is from, and the device's text
// goes to standard output, the core's own words to standard error, where the program's
// messages and its progress line go too. How the upload ended (LastUploadEnd)
// becomes the exit status.
//
// console_pane.cpp supplies the pane primitives over the console. One platform file,
// console_posix.cpp or console_win32.cpp, catches the interrupt (Ctrl+C, SIGTERM, the console
// going away) as a flag that the tick loop looks at, and makes the wait between ticks end as
// soon as the flag is raised.
//
// Several ports at once run one child process per port; how they fit: shell/upload/many_ports.h.
#pragma once

#include <cstddef>

// The exit status a script can rely on; the usage text (main.cpp) words them.
constexpr int ExitSent = 0;
constexpr int ExitStoppedByDevice = 1;
constexpr int ExitUsage = 2;
constexpr int ExitGaveUp = 3;
constexpr int ExitNoPort = 4;
constexpr int ExitNoProgramFile = 5;
constexpr int ExitDeviceGone = 6;
// Several ports: at least one port's upload did not go to its end.
constexpr int ExitSomePortsFailed = 7;
// The shells' own status for a program ended by SIGINT: 128 and the signal's number.
constexpr int ExitInterrupted = 130;

// A line the program writes: a message naming a path of at most 511 bytes and its reason.
constexpr std::size_t SaidTextCapacity = 1024;

// ---- console_pane.cpp

// The core's message collected since the last call (empty when there is none); the buffer
// is emptied for the next one.
const char* TakeCoreMessage();
// Redraws the one progress line on standard error; used only when that is a terminal.
void DrawProgressLine(const char* text);
// Writes "varnoth-upload: " and the formatted text as a line of its own on standard error,
// in place of the progress line if one is shown; a child reporting to its parent keeps it.
void Say(const char* format, ...);
// The text Say was given last (without the prefix); empty before the first.
const char* LastSaid();

// ---- console_posix.cpp, console_win32.cpp

// From now on Ctrl+C, SIGTERM and their kin raise the interrupt flag instead of ending the
// program; a second one while the flag is up ends it the platform's ordinary way, for steps
// that do not look at the flag (the detection's probes), the port closed first.
void CatchInterrupts();
bool InterruptRequested();
// Returns after `milliseconds`, or at once when the interrupt flag is raised.
void WaitUnlessInterrupted(unsigned milliseconds);
bool StandardErrorIsTerminal();
// Puts the terminal's cursor on the row above, after its first `column` characters.
void MoveCursorToEndOfRowAbove(std::size_t column);
// Puts the terminal's cursor at the start of the row `rows` above.
void MoveCursorUpRows(std::size_t rows);
// The size of the terminal standard error is; false when it is none or does not say.
bool TerminalSize(std::size_t* columns, std::size_t* rows);
// Makes standard output pass the device's bytes unchanged (no line-end translation).
void PrepareStandardOutput();
