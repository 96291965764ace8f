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

// A fast upload sends each line as soon as the device's answer to the one before arrives,
// instead of at the next tick once the line has gone quiet: the same UploadStep, fed the same
// bytes in the same order, only sooner. The chunk still ends after 50 ms of silence and the
// silence rule still counts one-second idle spells in tick periods, now measured with the clock.
// While FastUploadRunning, a shell calls PollArrived in place of PollTick: whenever the port
// has something (a socket notifier, a short timer) or, waiting in the call itself, in a loop.

// Whether a fast upload runs ("rp!" with FastUploads set, or varnoth-upload --fast).
bool FastUploadRunning();
// Takes what the device has sent, waiting up to waitMilliseconds for it (0: only what is
// there), and does a tick's work on it.
void PollArrived(unsigned waitMilliseconds);
// How long a shell may wait for the device before the next PollArrived has a silence to mark.
unsigned ArrivalWaitMilliseconds();

// Turns `count` received bytes (at most ReceiveCapacity - 1) into pane text: LF becomes
// CR LF; XON, XOFF and NUL are dropped, since they carry no text and a NUL would end it.
// Returns the display buffer, valid until the next call.
const char* ConvertForDisplay(const char* bytes, std::size_t count);
