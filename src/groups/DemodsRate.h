#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// The filter and rate words of a demodulator: the time constant's coefficient
// word, and the word at offset 0x0C whose bits 0-23 hold the output-rate
// divider (RATE) and bits 24-31 the trigger bits (TRIGGER). RATE and TRIGGER
// each store their own part; both keep {RATE id, TRIGGER id} in their byte
// buffers, and the RATE write handler sends the combined word.
namespace tarnix {

class DeviceAccess;

// The divider that means "no continuous output".
constexpr uint32_t kDemodRateOff = 0xFFFFFF;
// Trigger bits 0-3 are edge triggers: while one is set the instrument sends
// samples on trigger events only.
constexpr uint32_t kDemodEdgeTriggers = 0x0F;

// Samples per second of a divider (0.0 when off).
double DemodRateOfDivider(uint32_t divider);
// The power-of-two divider (1 .. 2^23) whose rate is nearest to `rate`; the
// off divider for a rate of 0 or below.
uint32_t DemodDividerOfRate(double rate);

// TIMECONSTANT (its write handler is TimeConstantWriteNumber).
QV_STATUS DemodTimeConstantReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS DemodTimeConstantUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                      uint32_t length);

// RATE (request-data: DeviceStateEPRequestRegisters).
QV_STATUS DemodRateReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS DemodRateWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                               double value, int64_t integer);
QV_STATUS DemodRateWriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address);
QV_STATUS DemodRateUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// TRIGGER: no register of its own; a write marks RATE for sending.
QV_STATUS DemodTriggerReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS DemodTriggerWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer);

}  // namespace tarnix
