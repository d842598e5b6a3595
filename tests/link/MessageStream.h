#pragma once
// Device-to-host messages as the instrument frames them, for tests.
#include "platform/endian/ByteOrder.h"

#include <cstdint>
#include <vector>

namespace tarnix {
namespace testing {

inline std::vector<uint8_t> deviceMessage(uint32_t address, const std::vector<uint8_t>& payload, uint16_t packetCount,
                                          uint32_t markBits = 0) {
    std::vector<uint8_t> out(16 + payload.size());
    le::put16(out.data(), 0x5A47);
    le::put16(out.data() + 2, 0);
    le::put32(out.data() + 4, uint32_t(payload.size()) | markBits);
    le::put32(out.data() + 8, address);
    std::copy(payload.begin(), payload.end(), out.begin() + 12);
    le::put16(out.data() + 12 + payload.size(), 0);
    le::put16(out.data() + 14 + payload.size(), packetCount);
    return out;
}

inline std::vector<uint8_t> pattern(std::size_t length, uint8_t seed) {
    std::vector<uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = uint8_t(seed + 3 * i);
    return bytes;
}

inline void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

}  // namespace testing
}  // namespace tarnix
