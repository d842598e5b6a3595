#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// Write handlers shared by the on/off and four-way selection leaves of many
// groups. The endpoint holds one 32-bit register word. Only the integer form
// of the client's value counts (a double arrives truncated toward zero). The
// endpoint is marked for a register write even when the word is unchanged,
// so the instrument receives it again; the reply carries the stored value,
// flags 0 after a change and 1 otherwise.
namespace tarnix {

class DeviceAccess;

// Stores 1 for any non-zero value, else 0.
QV_STATUS BooleanWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double value,
                             int64_t integer);

// Stores the value limited to 0..3.
QV_STATUS ClampTo3WriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double value,
                              int64_t integer);

}  // namespace tarnix
