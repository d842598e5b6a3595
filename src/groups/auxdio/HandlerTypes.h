#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// Plain function types of the handler slots, for handlers that are made from
// templates and given their names as constants.
namespace tarnix {

class DeviceAccess;

using ReadDataHandler = QV_STATUS (*)(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
using WriteNumberHandler = QV_STATUS (*)(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                         double value, int64_t integer);
using UpdateDataHandler = QV_STATUS (*)(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                        uint32_t length);

}  // namespace tarnix
