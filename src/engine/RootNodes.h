#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

namespace tarnix {

class DeviceAccess;

// The instrument's clock in Hz; timestamps count its ticks.
constexpr int64_t kClockBaseHz = 210000000;

// The device's tree with the nodes every instrument has: DEV<serial> with
// CLOCKBASE, STATS (with PHYSICAL) and the hidden RAW register access.
QV_STATUS DeviceStateCreateDeviceTree(DeviceAccess& device);
QV_STATUS DeviceStateCreateStatsNodes(DeviceAccess& device);
QV_STATUS DeviceStateCreateRawNodes(DeviceAccess& device);
QV_STATUS DeviceStateCreateClockBaseNode(DeviceAccess& device);

QV_STATUS ClockBaseReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS StatsReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS StatsUpdateOnChange(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS StatsUpdate(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS RawAddressReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS RawAddressWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                double value, int64_t integer);
QV_STATUS RawRequestWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                double value, int64_t integer);
QV_STATUS RawDataUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS RawWriteBytes(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                        const uint8_t* bytes, uint32_t length);

}  // namespace tarnix
