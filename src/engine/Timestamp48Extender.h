#pragma once
#include <cstdint>

namespace tarnix {

// Extends the instrument's 48-bit tick counters to 64 bits, one state per stream.
struct Timestamp48Extender {
    uint64_t last = 0;
    uint64_t epoch = 0;

    // A step back by 2^46 or more counts as a wrap of the 48-bit counter; smaller
    // steps back (reordered samples) do not.
    uint64_t extend(uint32_t low, uint16_t high) {
        const uint64_t now = (uint64_t(high) << 32) | low;
        if (int64_t(last - now) >= (int64_t(1) << 46)) epoch += uint64_t(1) << 48;
        last = now;
        return epoch | now;
    }
};

}  // namespace tarnix
