#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// The time-constant register: the coefficient b of a first-order low-pass
// filter stepping every 114 ticks of the 210 MHz clock. Bits 0-16 hold the
// mantissa m; bit 17 set selects the coarse scale b = m x 2^-18, clear the
// fine scale b = m x 2^-30. tau = -T / ln(1 - b), T = 114 / 210e6 s.
namespace tarnix {

class DeviceAccess;

constexpr uint32_t kTimeConstantCoarseFlag = 0x20000;

// Seconds of a register word; a mantissa of 0 gives negative infinity.
double FromTC(uint32_t word);
// The word whose time constant is nearest to `seconds`, limited to the
// format's shortest and longest time constants. NaN gives the longest one.
uint32_t ToTC(double seconds);

// The WriteNumberFunc of time-constant leaves: takes the double (seconds),
// marks the register for writing whether or not the word changed and replies
// the time constant of the stored word. A NaN keeps the stored word, writes
// nothing and replies the time constant in force (flags 1).
QV_STATUS TimeConstantWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer);

}  // namespace tarnix
