#pragma once
#include <cstdint>

namespace tarnix {
namespace platform {
namespace usb {

// Result codes of the driver layer. They keep the numbers that the instrument
// code has always tested for, so the transport is written against one set of
// values whatever back-end carries the transfers.
enum : uint32_t {
    kErrorSuccess = 0,
    kErrorTooManyOpenFiles = 4,     // the process has no descriptor left to look
    kErrorAccessDenied = 5,         // the place where instruments appear cannot be read
    kErrorInvalidHandle = 6,
    kErrorGenFailure = 31,
    kErrorNotSupported = 50,
    kErrorInvalidParameter = 87,
    kErrorSemaphoreTimeout = 121,   // a transfer or request outlasted its time-out
    kErrorInsufficientBuffer = 122,
    kErrorNoMoreItems = 259,        // enumeration reached the end
    kErrorOperationAborted = 995,   // cancelled
    kErrorIoIncomplete = 996,       // result asked for without waiting, still running
    kErrorIoPending = 997,          // started, completes later
    kErrorDeviceNotConnected = 1167,
};

// Status of an overlapped record whose transfer is still running.
constexpr uint32_t kStatusPending = 0x103;

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
