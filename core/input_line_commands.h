// What Enter in the input line does: a local command, or the line sent to the device.
#pragma once

// Runs the typed line. With leftCtrlHeld a sent line goes without its line feed.
// Returns true when the line was a local command, false when it was sent.
bool ExecuteInputLine(bool leftCtrlHeld);
