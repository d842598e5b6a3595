#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

namespace tarnix {

class DeviceAccess;

// The usual WriteDataFunc: queues a write of the whole value buffer.
QV_STATUS DeviceStateEPWriteRegisters(DeviceAccess& device, const EPNodePtr& ep, uint32_t address);
// The usual RequestDataFunc: queues a read request of value-size bytes.
QV_STATUS DeviceStateEPRequestRegisters(DeviceAccess& device, const EPNodePtr& ep, uint32_t address);

// Boolean node whose register bit has the opposite sense: the client sees 1
// when the stored register word is 0.
QV_STATUS InvertedBooleanReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS InvertedBooleanWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double value, int64_t integer);
QV_STATUS InvertedBooleanUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// The stored 32-bit register word of an endpoint (little-endian), 0 without one.
uint32_t storedWord(const DeviceStateEPNode& ep);
void storeWord(DeviceStateEPNode& ep, uint32_t word);

}  // namespace tarnix
