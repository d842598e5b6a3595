#pragma once
#include "platform/usb/DriverCodes.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarnix {
namespace detail {

// The instrument driver's contract: device-interface class, control requests
// (one 8-byte answer each; where a status is given, answer byte 1 is 0 on
// success) and the lowest driver version the transport accepts.
constexpr const char* kLQ3InterfaceGuid = "{0de7710b-b317-47d1-a33c-25c3fbb5044c}";
constexpr uint16_t kMinimalDriverVersion = 7437;
constexpr std::size_t kIoctlAnswerSize = platform::usb::kControlAnswerSize;
constexpr std::size_t kIoctlStatusByte = 1;

using platform::usb::controlCode;

// One control request of a given function with its fixed-size input.
template <uint32_t Function, std::size_t InputSize>
struct IOCTL {
    static constexpr uint32_t code = controlCode(Function);
    std::array<uint8_t, InputSize> input{};
};

using IoctlAnswer = std::array<uint8_t, kIoctlAnswerSize>;

}  // namespace detail
}  // namespace tarnix
