#pragma once
#include <chrono>
#include <cstdint>

namespace tarnix {
namespace platform {

// Monotonic time for measuring intervals; unaffected by changes of the wall
// clock. The origin is arbitrary, only differences are meaningful.
inline uint64_t monotonicMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

inline uint64_t monotonicMillis() { return monotonicMicros() / 1000; }

}  // namespace platform
}  // namespace tarnix
