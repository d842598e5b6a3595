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
    // Signal inputs at the range nearest 1.2 V. Formula gain mode: step 9
    // (1.17 V). Gain-range tables: entry 21 of the input's DC table (1.2 V),
    // the table code (input, table, position) in bits 16-23.
    static constexpr uint32_t kSigInFormulaRange = 9;
    static constexpr uint32_t kSigInTableEntry = 21;
    static constexpr uint32_t sigInTableRange(uint32_t input) {
        return ((input << 7 | kSigInTableEntry) << 16) | kSigInTableEntry;
    }
    // Single-ended inputs: DIFF's register holds 1 then.
    static constexpr uint32_t kSigInSingleEnded = 1;
    // Signal outputs in their 1 V range (index 2 of 0.01, 0.1, 1 and 10 V).
    static constexpr uint32_t kSigOutRange1V = 2;
    // Auxiliary inputs average 256 = 2^8 samples.
    static constexpr uint32_t kAuxInAveragingExponent = 8;
    // DIO port: decimation 256, outputs not driven (the drive bits are held
    // inverted) and both sync outputs on source 8 (none).
    static constexpr uint32_t kDioDecimation = 256;
    static constexpr uint32_t kDioDriveOff = 3;
    static constexpr uint32_t kDioSyncNone = 8;
};

// Writes the power-on settings of the signal path into the register space:
// `signalInputs` inputs, in the gain-range table mode or the formula mode.
void presetPowerOnSettings(SimInstrument& instrument, uint32_t signalInputs, bool gainTables);

}  // namespace sim
}  // namespace tarnix
