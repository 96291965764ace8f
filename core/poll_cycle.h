// The work of every timer tick: fetch what the device sent, feed a running upload, show it.
#pragma once

#include <cstddef>

// Every shell calls PollTick this often (the windows from a timer, varnoth-upload from its
// loop); the upload's silence rule counts in these ticks.
constexpr int PollIntervalMilliseconds = 100;
// A chunk holds at most ReceiveCapacity - 1 bytes plus the NUL that ReadPort stores.
constexpr std::size_t ReceiveCapacity = 65536;
// Every byte of a chunk may be a line feed that widens to CR LF.
constexpr std::size_t DisplayCapacity = 2 * (ReceiveCapacity - 1) + 1;
// A tick reads for at most about one tick period while bytes keep coming, so a device that
// talks without pause cannot hold the window; the chunk goes on in the next tick.
constexpr unsigned PollReadBudgetMilliseconds = PollIntervalMilliseconds;
// TimeoutMarker is fed to the upload after this many idle ticks in a row (one second at the
// 100 ms tick).
constexpr int UploadIdleTickLimit = 10;
void PollTick();

// Turns `count` received bytes (at most ReceiveCapacity - 1) into pane text: LF becomes
// CR LF; XON, XOFF and NUL are dropped, since they carry no text and a NUL would end it.
// Returns the display buffer, valid until the next call.
const char* ConvertForDisplay(const char* bytes, std::size_t count);
