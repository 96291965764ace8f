// How the programs on POSIX end when asked to by a signal (SIGINT, SIGTERM, SIGHUP), with the
// port closed. A pseudo-terminal keeps its exclusive flag after the process that set it has
// ended, so a port left open by a killed program would be refused as "in use" to every user
// but root until the device restarts.
//
// The first signal only raises a flag and makes ExitSignalDescriptor() readable, so that a loop
// waiting on it (a poll, a QSocketNotifier) wakes at once, even when the signal came just
// before the wait; the program then ends its own way and closes the port. A second signal
// while the first is still being acted on (detection's probes do not look at the flag) closes
// the session's port in the handler and ends the program the signal's own way.
#pragma once

void CatchExitSignals();
// `putBack` runs in the handler of a second signal, after the port is closed and before the
// program ends: what a program must put back however it ends (the text console's terminal).
// Only async-signal-safe calls.
void RunOnForcedExit(void (*putBack)());
bool ExitSignalCaught();
// Becomes readable at the first signal, and stays so.
int ExitSignalDescriptor();
