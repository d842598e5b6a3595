#pragma once
#include "platform/endian/ByteOrder.h"
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// The register image an endpoint keeps in its value buffer, and the usual
// store step of a write handler.
namespace tarnix {

class DeviceAccess;

// The stored 64-bit register image (little-endian), 0 without one.
inline uint64_t storedWord64(const DeviceStateEPNode& ep) {
    return ep.value.size() >= 8 ? le::get64(ep.value.data()) : 0;
}

inline void storeWord64(DeviceStateEPNode& ep, uint64_t word) {
    if (ep.value.size() >= 8) le::put64(ep.value.data(), word);
}

// Stores the word when it differs from the stored one (`changed` tells which)
// and marks the endpoint for a register write either way, so the instrument
// receives the register again. 0x8010 when the endpoint holds no such word.
QV_STATUS storeWordAndMark(DeviceAccess& device, DeviceStateEPNode& ep, uint32_t word, bool& changed);
QV_STATUS storeWord64AndMark(DeviceAccess& device, DeviceStateEPNode& ep, uint64_t word, bool& changed);

// The update side of a 64-bit register: takes the first 8 bytes of the
// instrument's data into `word` and stores them when they differ (`changed`
// tells). 0x8010, with nothing done, for shorter data or an endpoint without
// such a register.
QV_STATUS ReceiveWord64(DeviceStateEPNode& ep, const uint8_t* data, uint32_t length, uint64_t& word, bool& changed);

}  // namespace tarnix
