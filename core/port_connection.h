// The "open" command: turns a typed port number into a device and connects to it.
#pragma once

#include <cstdint>

#include "serial/serial_port.h"

// Port numbers at or above this are refused without a word; detection tries the numbers below.
constexpr std::int32_t PortNumberLimit = HighestPortNumber + 1;
// Number 0 asks for detection rather than naming a port.
constexpr std::int32_t DetectPortNumber = 0;

// `argument` is the typed line after "open" (usually a blank and a number). Opens the port
// into PortHandle and reports the outcome in the output pane. Expects no port to be open.
// Returns ResultSuccess when a port is open afterwards, ResultFailure otherwise.
int ConnectPort(const char* argument);

// What happens when the open port's device goes away, as the serial link tells it from mere
// silence: LosePort closes the port, ends a running upload, says so in the pane once and starts
// waiting; while the terminal waits, each tick calls LookForLostPort, which looks for the device
// about once a second and, when it is back, opens it again and says so. "open" ends the wait.
void LosePort();
void LookForLostPort();

// Closes the open port, if any, leaving PortHandle without one. Safe to call from a signal
// handler, as ClosePort is.
void ClosePortIfOpen();

// Asks the device on PortHandle to identify itself; true when the reply names our device.
bool ProbePort();

// The number at the start of `text`: leading white space skipped, one optional sign, decimal
// digits in 32-bit arithmetic that wraps, anything after them ignored; no digits give 0.
std::int32_t ParsePortNumber(const char* text);
