// A serial link made of byte queues: tests say which devices exist and what they send, and
// read back every byte the core wrote.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "serial/serial_port.h"

struct FakeDevice {
    bool busy = false;              // held by another program: opening it fails
    bool gone = false;              // unplugged: reads find it gone, opening it fails
    std::deque<std::string> chunks; // what arrives between two silences, in order
    // When not 0, a read stops after this many bytes, as one whose time ran out does: it has
    // not seen the line go quiet, and the rest of the chunk comes with the next read.
    std::size_t bytesPerRead = 0;
    // A write takes at most this many bytes, as one does whose line stalled; the rest is lost.
    std::size_t bytesPerWrite = std::string::npos;
    std::string identityReply;       // queued as a chunk whenever "id\n" is written
    std::string received;            // every byte written to the device, in order
    std::vector<std::string> writes; // each non-empty WritePort call's bytes that went out
};

struct FakeSerialState {
    std::map<std::string, FakeDevice> devices;      // by port name; absent names fail to open
    std::vector<std::string> opened, closed;        // port names, in order
    std::string openName;                           // the port currently open, if any
    std::string lastOpened;                         // what ReopenLastPort opens again
    std::int32_t numberNow = 0;                     // what ReopenLastPort says the number is
    std::string failureReason;                      // what PortOpenFailureReason says
    std::string deviceName;                         // what OpenedDeviceName says
    unsigned readBudgetLimit = UnlimitedReadBudget; // a longer ReadPort budget is a fault
    int writesWithoutPort = 0;                      // non-empty writes to InvalidPortHandle
    unsigned sleptMilliseconds = 0;
    // The clock: it moves on only as the core waits (sleeps, reads that find nothing) and as
    // the test moves it.
    unsigned long long nowMilliseconds = 1;
    // When the last read that got anything took it: the clock as it was then.
    unsigned long long firstByteTakenAt = 0;
};

extern FakeSerialState FakeSerial;

// The device behind a port name; creates it, so the port then opens.
FakeDevice& Device(const std::string& name);
