#pragma once
#include <atomic>
#include <cstdint>

namespace tarnix {
namespace sim {

// The loss bits of the instrument's STATUS word. A part of the instrument that
// loses data raises its bit; the next STATUS block that goes out carries it
// and clears it, so a bit is set in the blocks that follow a loss and clear
// again once none follows. Any thread may raise; the heartbeat takes.
class StatusFlags {
public:
    static constexpr uint32_t kPacketLoss = 1u << 3;       // device-to-host data dropped
    static constexpr uint32_t kScopeSkipped = 1u << 8;     // a scope wave dropped
    static constexpr uint32_t kDemodSampleLoss = 1u << 9;  // the demodulators' sample FIFO overflowed

    void raise(uint32_t bits) { bits_.fetch_or(bits, std::memory_order_relaxed); }
    // The bits raised since the last take.
    uint32_t take() { return bits_.exchange(0, std::memory_order_relaxed); }

private:
    std::atomic<uint32_t> bits_{0};
};

}  // namespace sim
}  // namespace tarnix
