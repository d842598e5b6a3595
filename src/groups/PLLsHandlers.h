#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// Value handlers that belong to the phase-locked loops alone. The loop gains
// are in groups/PLLsLoopGain.h; the other leaves use shared handlers.
namespace tarnix {

class DeviceAccess;
struct DeviceState;

// Conversions of the PLL registers.
// FREQRANGE: an unsigned 64-bit word at twice the frequency register's scale.
double PllFreqRangeOf(uint64_t word);
uint64_t PllFreqRangeWord(double hertz);  // limited to 0 .. 1e8 Hz, truncated
// ERROR: the low 18 bits, two's complement, 180/65536 degrees per step.
double PllErrorOf(uint32_t word);
// FREQDELTA: a 48-bit two's complement phase increment.
double PllFreqDeltaOf(uint64_t word);
// ADCTHRESHOLD: the low 13 bits, two's complement.
int64_t PllThresholdOf(uint32_t word);
uint32_t PllThresholdWord(int64_t threshold);  // limited to -4096 .. 4095
// AUXAVG: the register holds the base-2 exponent of the averaging count.
int64_t PllAuxAvgOf(uint32_t word);
uint32_t PllAuxAvgWord(int64_t count);
// SETPOINT: a signed 32-bit word, 180 degrees = 65535.
double PllSetpointOf(uint32_t word);
uint32_t PllSetpointWord(double degrees);  // limited to -180 .. 180, truncated
// ADCSELECT: the input index as clients see it, limited to the last input
// there is (with no inputs at all that is 0xFFFFFFFF).
int64_t PllShownInput(const DeviceState& state, uint32_t word);
uint32_t PllInputWord(const DeviceState& state, int64_t input);

QV_STATUS PLLADCSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer);
QV_STATUS PLLADCSelectReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// FREQCENTER (read: OscFreqReadData, update: OscFreqUpdateData). Only feature
// versions 2 and 3 accept a new centre frequency.
QV_STATUS PLLFreqCenterWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                   double value, int64_t integer);

QV_STATUS PLLFreqRangeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PLLFreqRangeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer);
QV_STATUS PLLFreqRangeReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// ERROR is pushed on every report, changed or not.
QV_STATUS PLLErrorReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PLLErrorReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

QV_STATUS PLLFreqDeltaReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PLLFreqDeltaReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

QV_STATUS PLLADCThresholdReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PLLADCThresholdWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double value, int64_t integer);
QV_STATUS PLLADCThresholdReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                      uint32_t length);

QV_STATUS PLLAuxAvgReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PLLAuxAvgWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                               double value, int64_t integer);
QV_STATUS PLLAuxAvgReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

QV_STATUS PLLSetpointReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PLLSetpointWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                 double value, int64_t integer);
QV_STATUS PLLSetpointReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

}  // namespace tarnix
