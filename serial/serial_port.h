// The only code that touches the serial device, plus the one wait the core needs.
// Each platform supplies these in its own source file (serial_posix.cpp, serial_win32.cpp);
// the build links exactly one of them.
#pragma once

#include <cstddef>
#include <cstdint>

// A port handle is wide enough for a Win32 HANDLE and a POSIX file descriptor alike.
// All bits set means "no port" on both: INVALID_HANDLE_VALUE is (HANDLE)-1, and -1 is
// never a valid descriptor.
typedef std::intptr_t SerialHandle;
constexpr SerialHandle InvalidPortHandle = -1;

// Line settings are a fact of the device, not a user choice: 9600 baud, 8N1.
constexpr unsigned PortBaudRate = 9600;
// A single-byte read gives up after this much silence; a write gives up after this long past
// the time its bytes take on the wire.
constexpr unsigned PortTimeoutMilliseconds = 50;
// A byte takes ten bits at 9600 baud 8N1, 1.04 ms; Win32's write time-out counts whole
// milliseconds per byte, so both links allow 2. Without it a driver that completes a write only
// once the bytes are out would end a 50 ms write after about 48 bytes.
constexpr unsigned PortWriteMillisecondsPerByte = 2;

// How long a write of `count` bytes may take before what is left of it is given up.
constexpr unsigned long WriteTimeLimitMilliseconds(std::size_t count) {
    return PortTimeoutMilliseconds +
           PortWriteMillisecondsPerByte * static_cast<unsigned long>(count);
}

// Port numbers run from 1 to this. Windows hands out COM numbers up to 255, and a machine that
// has seen a few adapters, Bluetooth links or phones gives a new adapter COM25 to COM60 or so;
// "\\.\COM255" opens like "\\.\COM3". What a number means on each platform: docs/using.md,
// "Port numbers".
constexpr int HighestPortNumber = 255;

// Marks in present[1] to present[HighestPortNumber] the numbers that may reach a port now, so
// that detection probes only those; present[0] is left alone. A marked number can still fail
// to open (held by another program, a link that points nowhere). Read afresh at every call.
void FindPresentPorts(bool (&present)[HighestPortNumber + 1]);

// Prints the ports present now to standard output, each with the number "open n" takes: the
// programs' --list-ports. Returns the exit status.
int PrintPortTable();

// Opens the named port exclusively with the fixed line settings: raw 8N1, no flow control of
// any kind, so that every byte passes unchanged. What the port received before it was ours is
// dropped: the answer to a line that an interrupted program sent last would otherwise be taken
// for the answer to the next program's first line. A missing or busy port, or one that refuses
// the settings, gives InvalidPortHandle and leaves nothing open.
SerialHandle OpenPort(const char* name);

// The device the last successful OpenPort reached, as its user knows it ("ttyUSB0", "pts/3"),
// for the title and messages; empty where the port's number is its name (Windows' COM3).
const char* OpenedDeviceName();

// The command that lists the ports, named in the reason a port number reaches no device; each
// program that has --list-ports names its own ("varnoth-upload --list-ports").
void NamePortListCommand(const char* command);

// Why the last OpenPort failed: one short line ending in \n that names the device, the reason
// and the fix when there is one; empty when the platform has nothing to add to the failure.
const char* PortOpenFailureReason();

// Sends count bytes; what the driver has not taken within WriteTimeLimitMilliseconds(count) is
// dropped. Returns how many bytes went out: count, or fewer when the line stalled or the device
// went away; 0, doing nothing, on InvalidPortHandle.
std::size_t WritePort(SerialHandle handle, const char* bytes, std::size_t count);

// Reads what the device sends until the line is quiet for the read time-out, capacity - 1
// bytes are stored, or budgetMilliseconds have passed while bytes kept coming; then stores a
// NUL after them and returns how many were read (0 at once on InvalidPortHandle). Embedded
// NUL bytes are stored like any other byte. *lineWentQuiet tells whether the read ended on
// silence (or a vanished device, or no port): only then has the chunk ended. A read that ran
// out of time or space leaves the rest of the chunk for the next call.
std::size_t ReadPort(SerialHandle handle, char* buffer, std::size_t capacity,
                     unsigned budgetMilliseconds, bool* lineWentQuiet);
// A budget that never runs out: the read ends only on silence or a full buffer.
constexpr unsigned UnlimitedReadBudget = ~0u;

// Waits up to waitMilliseconds for the device to send anything, then returns at once with
// what it has sent so far, at most capacity - 1 bytes and a NUL: the read of a fast upload,
// which acts on each answer as it comes instead of waiting for the line to go quiet. 0 when
// nothing came in that time (at once on InvalidPortHandle). PortDeviceGone tells afterwards
// whether the device went away.
std::size_t ReadArrived(SerialHandle handle, char* buffer, std::size_t capacity,
                        unsigned waitMilliseconds);

// When the last ReadPort or ReadArrived that got anything took its first byte from the driver
// (MonotonicMilliseconds): the time a session log stamps the line with. Bytes already queued
// when a tick's read began came within a tick before it.
unsigned long long FirstByteTakenAt();

// Whether the last ReadPort on `handle` ended because the device behind the port went away
// (unplugged, powered off, its USB bridge reset) rather than because the line went quiet. The
// port is of no more use then: close it. A silent device that is still there is never gone.
bool PortDeviceGone(SerialHandle handle);

// Opens again, with the same settings, the device that the last successful OpenPort reached,
// found as it is now: on Linux by its persistent name when it has one (an adapter may come back
// as another ttyUSB), else by its path; on Windows by the same COM name. InvalidPortHandle
// while it is not back. *numberNow becomes the number "open" would give it now (0 when no
// number reaches it).
SerialHandle ReopenLastPort(std::int32_t* numberNow);

// Releases a port; callers pass only a valid handle. Safe to call from a signal handler, so
// that a program ended by a signal still leaves the port free for the next one.
void ClosePort(SerialHandle handle);

// Blocks the calling thread; the device probe gives the device this long to answer.
void SleepMilliseconds(unsigned milliseconds);
// A clock that only goes forward, in milliseconds from a fixed point: a fast upload measures
// its silences with it.
unsigned long long MonotonicMilliseconds();
