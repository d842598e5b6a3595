#pragma once
#include <cstdint>

namespace tarnix {

// One entry of a gain-range list of the signal inputs.
struct GainRangeEntry {
    double range = 0.0;
    uint16_t word16 = 0;
    uint32_t word32 = 0;
    double factor = 1.0;
};

}  // namespace tarnix
