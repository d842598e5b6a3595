#pragma once
#include "Heartbeat.h"
#include "SimInstrument.h"
#include "StatusFlags.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace tarnix {
namespace sim {

// The scope of the built-in LQ3: once a host has read the feature list, it
// sends a wave (a sine of 2048 samples whose phase moves from wave to wave)
// at a fixed rate while its trigger is not off. The trigger starts off, so a
// host that does not use the scope receives no waves, and nothing runs until
// the trigger is set. A wave that finds the queue full is skipped and raises
// the scope-skipped bit.
class FrontEndScope {
public:
    static constexpr uint32_t kWavesPerSecond = 10;
    static constexpr std::size_t kQueueLimit = 65536;  // bytes a host may leave unread

    // Blocks of the built-in feature list (defaultFeatureRecords).
    static constexpr uint32_t kSettings = 0x01002D00;
    static constexpr uint32_t kTrigChannelOffset = 12;
    static constexpr uint32_t kTriggerOff = 0x80000000;
    static constexpr uint32_t kWave = 0x01010000;
    static constexpr uint32_t kWaveBytes = 0x1000;

    // Sets the trigger register off and starts the waves.
    FrontEndScope(std::shared_ptr<SimInstrument> instrument, std::function<bool()> hostReady,
                  std::shared_ptr<StatusFlags> flags);
    ~FrontEndScope();
    FrontEndScope(const FrontEndScope&) = delete;
    FrontEndScope& operator=(const FrontEndScope&) = delete;

private:
    // Between the trigger register (written with the instrument locked) and the
    // heartbeat, which goes before the register does.
    struct TriggerSwitch {
        std::mutex mutex;
        Heartbeat* heartbeat = nullptr;
    };

    void beat();

    std::shared_ptr<SimInstrument> instrument_;
    std::function<bool()> hostReady_;
    std::shared_ptr<StatusFlags> flags_;
    uint32_t wavesSent_ = 0;  // touched by the heartbeat thread only
    std::unique_ptr<Heartbeat> heartbeat_;
    std::shared_ptr<TriggerSwitch> switch_;
};

}  // namespace sim
}  // namespace tarnix
