#pragma once
#include <cstdint>

namespace tarnix {
namespace platform {
namespace usb {

// The instrument driver's control requests: device type 0x4322, buffered
// method, read access, function numbers 0x800 to 0x80D. Every request answers
// into an 8-byte output buffer.
constexpr uint32_t kControlCodeBase = 0x43226000u;
constexpr uint32_t kFirstControlFunction = 0x800u;
constexpr uint32_t kLastControlFunction = 0x80Du;
constexpr uint32_t kControlAnswerSize = 8;

constexpr uint32_t controlCode(uint32_t function) {
    return kControlCodeBase + 4u * (function - kFirstControlFunction);
}
constexpr uint32_t controlFunction(uint32_t code) {
    return kFirstControlFunction + (code - kControlCodeBase) / 4u;
}
constexpr bool isControlCode(uint32_t code) {
    return code >= kControlCodeBase && (code - kControlCodeBase) % 4u == 0 &&
           controlFunction(code) <= kLastControlFunction;
}

enum ControlFunction : uint32_t {
    kFnGetQVValue = 0x800,
    kFnGetVersions = 0x801,
    kFnReset = 0x802,
    kFnStartProgram = 0x803,
    kFnGetConfigStatus = 0x804,
    kFnGetStats = 0x805,
    kFnDummyRead = 0x806,
    kFnLockIn = 0x807,
    kFnReadRegister = 0x808,
    kFnSetReadTimeout = 0x809,
    kFnSetWriteTimeout = 0x80A,
    kFnGetDriverVersion = 0x80B,
    kFnVendorReset = 0x80C,
    kFnClearPipe = 0x80D,
};

// Bulk pipe numbers of the clear-pipe request.
constexpr uint8_t kPipeDeviceToHost = 0;
constexpr uint8_t kPipeHostToDevice = 1;

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
