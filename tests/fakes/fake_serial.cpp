#include "tests/fakes/fake_serial.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

FakeSerialState FakeSerial;

namespace {

// Any value but InvalidPortHandle will do; a fixed one makes a stale handle easy to spot.
constexpr SerialHandle FakeHandle = 42;

// A use of a port that is not open is a fault of the core: the test stops there.
FakeDevice& OpenDevice(SerialHandle handle) {
    if (handle != FakeHandle || FakeSerial.openName.empty()) {
        throw std::logic_error("fake serial: use of a handle that is not open");
    }
    return FakeSerial.devices.at(FakeSerial.openName);
}

} // namespace

FakeDevice& Device(const std::string& name) {
    return FakeSerial.devices[name];
}

// Every device named "\\.\COM<n>" is present, busy ones included, as on a real machine.
void FindPresentPorts(bool (&present)[HighestPortNumber + 1]) {
    for (int number = 1; number <= HighestPortNumber; ++number) {
        present[number] = FakeSerial.devices.count("\\\\.\\COM" + std::to_string(number)) > 0;
    }
}

SerialHandle OpenPort(const char* name) {
    if (!FakeSerial.openName.empty()) {
        throw std::logic_error("fake serial: a second port opened while one is open");
    }
    auto found = FakeSerial.devices.find(name);
    if (found == FakeSerial.devices.end() || found->second.busy || found->second.gone) {
        return InvalidPortHandle;
    }
    FakeSerial.opened.push_back(FakeSerial.openName = name);
    FakeSerial.lastOpened = name;
    return FakeHandle;
}

bool PortDeviceGone(SerialHandle handle) {
    return handle != InvalidPortHandle && OpenDevice(handle).gone;
}

SerialHandle ReopenLastPort(std::int32_t* numberNow) {
    const SerialHandle handle = OpenPort(FakeSerial.lastOpened.c_str());
    if (handle != InvalidPortHandle) {
        *numberNow = FakeSerial.numberNow;
    }
    return handle;
}

const char* OpenedDeviceName() {
    return FakeSerial.deviceName.c_str();
}

void NamePortListCommand(const char*) {}

const char* PortOpenFailureReason() {
    return FakeSerial.failureReason.c_str();
}

std::size_t WritePort(SerialHandle handle, const char* bytes, std::size_t count) {
    if (count > 0 && handle == InvalidPortHandle) {
        ++FakeSerial.writesWithoutPort;
    }
    if (count == 0 || handle == InvalidPortHandle || OpenDevice(handle).gone) {
        return 0;
    }
    FakeDevice& device = OpenDevice(handle);
    count = std::min(count, device.bytesPerWrite);
    if (count > 0) {
        device.writes.emplace_back(bytes, count);
        device.received += device.writes.back();
        if (device.writes.back() == "id\n" && !device.identityReply.empty()) {
            device.chunks.push_back(device.identityReply);
        }
    }
    return count;
}

std::size_t ReadPort(SerialHandle handle, char* buffer, std::size_t capacity, unsigned budget,
                     bool* lineWentQuiet) {
    if (budget > FakeSerial.readBudgetLimit) {
        throw std::logic_error("fake serial: a read that may outlast its limit");
    }
    std::size_t count = 0;
    *lineWentQuiet = true;
    FakeDevice* device = handle == InvalidPortHandle ? nullptr : &OpenDevice(handle);
    if (device != nullptr && !device->gone && !device->chunks.empty()) {
        std::string& chunk = device->chunks.front();
        const std::size_t limit = device->bytesPerRead == 0 ? capacity - 1 : device->bytesPerRead;
        count = std::min({chunk.size(), capacity - 1, limit});
        std::memcpy(buffer, chunk.data(), count);
        chunk.erase(0, count);
        // A read that ran out of time at the chunk's very end leaves the silence after it
        // to the next read.
        *lineWentQuiet =
            chunk.empty() && (device->bytesPerRead == 0 || count < device->bytesPerRead);
        if (*lineWentQuiet) {
            device->chunks.pop_front();
        }
    }
    buffer[count] = '\0';
    if (count > 0) {
        FakeSerial.firstByteTakenAt = FakeSerial.nowMilliseconds;
    }
    return count;
}

// What a read would take: one chunk, or as much of it as bytesPerRead lets through. The chunk
// is done once taken whole.
std::size_t TakeFromChunk(FakeDevice& device, char* buffer, std::size_t capacity) {
    if (device.gone || device.chunks.empty()) {
        return 0;
    }
    std::string& chunk = device.chunks.front();
    const std::size_t limit = device.bytesPerRead == 0 ? capacity - 1 : device.bytesPerRead;
    const std::size_t count = std::min({chunk.size(), capacity - 1, limit});
    std::memcpy(buffer, chunk.data(), count);
    chunk.erase(0, count);
    return count;
}

std::size_t ReadArrived(SerialHandle handle, char* buffer, std::size_t capacity,
                        unsigned waitMilliseconds) {
    std::size_t count = 0;
    if (handle != InvalidPortHandle) {
        FakeDevice& device = OpenDevice(handle);
        count = TakeFromChunk(device, buffer, capacity);
        // A chunk taken whole has met the silence after it.
        if (!device.chunks.empty() && device.chunks.front().empty()) {
            device.chunks.pop_front();
        }
        if (count == 0) {
            FakeSerial.nowMilliseconds += waitMilliseconds;
        }
    }
    buffer[count] = '\0';
    if (count > 0) {
        FakeSerial.firstByteTakenAt = FakeSerial.nowMilliseconds;
    }
    return count;
}

unsigned long long FirstByteTakenAt() {
    return FakeSerial.firstByteTakenAt;
}

unsigned long long MonotonicMilliseconds() {
    return FakeSerial.nowMilliseconds;
}

void ClosePort(SerialHandle handle) {
    OpenDevice(handle);
    FakeSerial.closed.push_back(FakeSerial.openName);
    FakeSerial.openName.clear();
}

void SleepMilliseconds(unsigned milliseconds) {
    FakeSerial.sleptMilliseconds += milliseconds;
    FakeSerial.nowMilliseconds += milliseconds;
}
