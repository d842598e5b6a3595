#pragma once
#include "ModelVariants.h"
#include "SimInstrument.h"

#include <cstdint>

namespace tarnix {
namespace sim {

// The loop gains that the PLLs of an LQ3 hold when it starts (feature
// versions 2 and 3 show them): a proportional gain of about 1.0 with an
// integral setting of about 1 ms and a derivative setting of about 1 us, as a
// host finds an instrument that was set up before.
struct PllLoopGainWords {
    static constexpr uint32_t kGain = 230;          // mantissa 230: 0.99946 per radian
    static constexpr uint32_t kIntegral = 512;      // 0.00099946 s with that gain
    static constexpr uint32_t kDerivative = 3398;   // 9.9995e-07 s with that gain
};

// Writes the variant's start settings of the control loops into the register space.
void presetControlLoops(SimInstrument& instrument, const ModelVariant& variant);

}  // namespace sim
}  // namespace tarnix
