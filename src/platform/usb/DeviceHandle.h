#pragma once
#include "platform/usb/Overlapped.h"

#include <cstdint>
#include <memory>

namespace tarnix {
namespace platform {
namespace usb {

// Outcome of starting a transfer: error kErrorSuccess with the byte count when
// it completed at once, kErrorIoPending when the overlapped record completes it
// later, any other code when it failed at once.
struct IoResult {
    uint32_t error = kErrorSuccess;
    uint32_t bytes = 0;
};

// One opened instrument: its control requests and its two bulk pipes, every
// operation overlapped. Buffers passed to a started operation must stay valid
// until its record is completed; the record itself is held by the handle.
class DeviceHandle {
public:
    DeviceHandle() = default;
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;
    virtual ~DeviceHandle() = default;

    // Control request `code` (device type 0x4322 codes) with its input bytes
    // (none: null and 0) and an output buffer.
    virtual IoResult deviceIoControl(uint32_t code, const uint8_t* input, uint32_t inputLength, uint8_t* output,
                                     uint32_t outputLength, const std::shared_ptr<Overlapped>& overlapped) = 0;
    // Reads up to `length` bytes from the device-to-host pipe.
    virtual IoResult readFile(uint8_t* data, uint32_t length, const std::shared_ptr<Overlapped>& overlapped) = 0;
    // Writes `length` bytes down the host-to-device pipe.
    virtual IoResult writeFile(const uint8_t* data, uint32_t length,
                               const std::shared_ptr<Overlapped>& overlapped) = 0;
    // Asks every running operation of the handle to end; each completes with
    // kErrorOperationAborted, or kErrorSemaphoreTimeout when its time-out had
    // already passed. Returns kErrorSuccess or the reason the request failed.
    virtual uint32_t cancelIo() = 0;

    // The result of a started operation; with `wait` it blocks until the
    // operation has ended, without it a running one gives kErrorIoIncomplete.
    static IoResult getOverlappedResult(Overlapped& overlapped, bool wait);
};

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
