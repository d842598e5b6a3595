#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// The frequency register: the phase increment per tick of the 210 MHz clock
// of a numerically controlled oscillator, an unsigned 64-bit word of which
// the instrument uses the low 48 bits. Hz = register x 210e6 x 2^-48.
namespace tarnix {

class DeviceAccess;

enum class PhaseRounding { Truncate, Nearest };

// All 64 bits of the register count.
double FromPhaseIncrement(uint64_t increment);
// The caller limits the frequency first; a negative or NaN frequency gives 0
// and one beyond the register's range its largest value.
uint64_t ToPhaseIncrement(double hertz, PhaseRounding rounding);

// The ReadDataFunc of frequency leaves with an 8-byte register: replies Hz.
QV_STATUS OscFreqReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);

}  // namespace tarnix
