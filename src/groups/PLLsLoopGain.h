#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// The loop gains of a PLL's PID controller: PGAIN, ITIMECONSTANT and
// DTIMECONSTANT, each one register word with an 18-bit two's-complement
// mantissa (bits 0-17) and range flags in bits 18 and 19. The integral and
// derivative values are scaled by the proportional gain G that PGAIN holds;
// a change of G re-writes both so that their values stay.
//
// Links (byte buffers): PGAIN holds [ITIMECONSTANT id, DTIMECONSTANT id];
// ITIMECONSTANT and DTIMECONSTANT each hold [PGAIN id].
namespace tarnix {

class DeviceAccess;

// PGAIN: G = E x 8 x (1/1841), E = m, or m x 256 with the coarse flag (bit 18).
uint32_t ToPGain(double gain);
double FromPGain(uint32_t word);
// ITIMECONSTANT: value = G x 0.512 / E (0 for E = 0); E = m, m x 2^-16 with
// the fine flag (bit 18) or m x 64 with the coarse flag (bit 19).
uint32_t ToITC(double value, double gain);
double FromITC(uint32_t word, double gain);
// DTIMECONSTANT: value = E / (G x 3.4e9); E = m, or m / 256 with the fine flag (bit 18).
uint32_t ToDTC(double value, double gain);
double FromDTC(uint32_t word, double gain);

QV_STATUS PLLPGainReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PLLPGainWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                              double value, int64_t integer);
QV_STATUS PLLPGainReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

QV_STATUS PLLITCReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PLLITCWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double value,
                            int64_t integer);
QV_STATUS PLLITCReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

QV_STATUS PLLDTCReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PLLDTCWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double value,
                            int64_t integer);
QV_STATUS PLLDTCReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

}  // namespace tarnix
