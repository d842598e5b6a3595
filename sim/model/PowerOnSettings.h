#pragma once
#include "SimInstrument.h"

#include <cstdint>

namespace tarnix {
namespace sim {

// The settings an LQ3 holds when it is switched on, where they are not the
// zero word of untouched registers: a fresh instrument reads finite, sensible
// values (a zero time-constant word would be a filter that never moves).
struct PowerOnWords {
    // Demodulator filters: 4th order (word = order - 1) with a time constant
    // of 0.010164 s (coarse-scale coefficient word).
    static constexpr uint32_t kDemodOrder = 3;
    static constexpr uint32_t kDemodTimeConstant = 0x2000E;
    // Oscillators at 1 MHz: the phase increment per 210 MHz tick, 2^48 / 210.
    static constexpr uint64_t kOscFrequency = 1340357031956ull;
};

// Writes the power-on settings of the signal path into the register space.
void presetPowerOnSettings(SimInstrument& instrument);

}  // namespace sim
}  // namespace tarnix
