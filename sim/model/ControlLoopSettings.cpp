#include "model/ControlLoopSettings.h"

#include "FeatureListImage.h"
#include "platform/endian/ByteOrder.h"

#include <utility>

namespace tarnix {
namespace sim {

void presetControlLoops(SimInstrument& instrument, const ModelVariant& variant) {
    if (variant.pllVersion != 2 && variant.pllVersion != 3) return;
    using namespace layout;
    for (uint32_t n = 0; n < kPllCount; ++n) {
        const uint32_t block = kPlls + n * kPllStride;
        const std::pair<uint32_t, uint32_t> words[] = {{kPllGainOffset, PllLoopGainWords::kGain},
                                                       {kPllIntegralOffset, PllLoopGainWords::kIntegral},
                                                       {kPllDerivativeOffset, PllLoopGainWords::kDerivative}};
        for (const auto& w : words) {
            uint8_t bytes[4];
            le::put32(bytes, w.second);
            instrument.writeRegisters(block + w.first, bytes, sizeof bytes);
        }
    }
}

}  // namespace sim
}  // namespace tarnix
