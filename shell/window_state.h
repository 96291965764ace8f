// What both windows show of where the terminal stands, beside the pane: the title and the empty
// input line's placeholder. The pane keeps only what the device and the terminal said.
//
// The title, each ending in " - Varnoth serial terminal" but the first:
//   no port open            "Varnoth serial terminal"
//   a port open             "port 3 - ...", with its device where it has a name of its own
//                           ("port 1 (ttyUSB0) - ..."): after detection, how the user learns
//                           which port it kept
//   a lost port waited for  "port 3 lost, waiting for it - ..."
//   an upload running       "blink.txt: line 12 of 2000 - ...", the line being sent, counted as
//                           the upload counts (a piece of a long line is a line)
//   an upload ended         how it ended, in varnoth-upload's closing words ("blink.txt went
//                           out to its end: 12 lines in 3.4 s - ...", "gave up at line 3 of 12:
//                           ..."), until the next line is entered or the port comes or goes.
// While a session log is written, "logging to session.log - " comes before the window's name.
// The placeholder says what to type: with no port, how to connect; with one, that a line goes
// to the device and what "rp!" uploads.
//
// The shells call UpdateWindowState after every poll tick and every line entered, the only
// times the state changes, and set what it gives them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/terminal_session.h"
#include "core/upload_report.h"

// The closing words, the log's name and the window's name.
constexpr std::size_t WindowTitleCapacity = UploadReportCapacity + UploadPathCapacity + 64;
// The longest path and the words around it.
constexpr std::size_t PlaceholderCapacity = UploadPathCapacity + 96;

// What the title keeps between updates: whether an upload ran, and how it ended.
struct WindowState {
    bool uploading = false;
    // The ended upload's closing words while they are shown; empty otherwise.
    char uploadEnd[UploadReportCapacity] = {};
    // Where the port stood when the upload ended: a change ends the closing words' stay.
    SerialHandle portAtEnd = InvalidPortHandle;
    bool waitingAtEnd = false;
};

// Updates `state` and writes the title and the placeholder for the session as it stands.
// `lineEntered` is true right after Enter ran a line. Returns true when an upload has just
// ended: a window that is not the active one then asks for the user's attention.
bool UpdateWindowState(WindowState* state, bool lineEntered, char (&title)[WindowTitleCapacity],
                       char (&placeholder)[PlaceholderCapacity]);
