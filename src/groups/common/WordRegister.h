#pragma once
#include "core/QVStatus.h"
#include "groups/common/RegisterImage.h"

#include <cstdint>

// The two halves of a setting held in one 32-bit register word (the first
// word of the endpoint's value buffer, little-endian).
namespace tarnix {

class DeviceAccess;
struct DeviceStateEPNode;

// Write side: stores `word` when it differs (`changed` tells) and marks the
// endpoint for writing either way, so that a repeated value is sent again.
// QV_BUFFER_TOO_SMALL, with nothing done, for an endpoint without a word.
inline QV_STATUS WriteWordSetting(DeviceAccess& device, DeviceStateEPNode& ep, uint32_t word, bool& changed) {
    return storeWordAndMark(device, ep, word, changed);
}

// Update side: takes the first word of the instrument's data into `word` and
// stores it when it differs (`changed` tells). QV_BUFFER_TOO_SMALL, with
// nothing done, for data shorter than a word or an endpoint without one.
QV_STATUS ReceiveWord(DeviceStateEPNode& ep, const uint8_t* data, uint32_t length, uint32_t& word, bool& changed);

}  // namespace tarnix
