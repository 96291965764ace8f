// The work of every timer tick: fetch what the device sent, feed a running upload, show it.
#pragma once

#include <cstddef>

// A chunk holds at most ReceiveCapacity - 1 bytes plus the NUL that ReadPort stores.
constexpr std::size_t ReceiveCapacity = 65536;
// Every byte of a chunk may be a line feed that widens to CR LF.
constexpr std::size_t DisplayCapacity = 2 * (ReceiveCapacity - 1) + 1;
// Fed to the upload after this many quiet ticks in a row (one second at the 100 ms tick).
constexpr int UploadSilenceTicks = 10;
// What the upload sees when the device stays silent for UploadSilenceTicks.
constexpr char TimeoutMarker = 'T';

void PollTick();

// Turns a received chunk into pane text: LF becomes CR LF, XON and XOFF are dropped, the
// text ends at the first NUL. At most ReceiveCapacity - 1 bytes of chunk are looked at.
// Returns the display buffer, valid until the next call.
const char* ConvertForDisplay(const char* chunk);
