#pragma once
#include "Heartbeat.h"
#include "SimInstrument.h"
#include "StatusFlags.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace tarnix {
namespace sim {

// The auxiliary-input and digital-I/O sample streams of the built-in LQ3:
// once a host has read the feature list, one sample packet of aux-input block 0
// and one of DIO port 0 go out at the given rate. The aux inputs report a fixed
// level on each channel; the DIO port reads back the 16 bits it outputs (its
// OUTPUT register), so a host can see its own settings arrive in the stream.
// A packet that finds the queue full is lost and raises the packet-loss bit.
class AuxDioStreams {
public:
    static constexpr std::size_t kQueueLimit = 16384;  // bytes a host may leave unread

    // Blocks of the built-in feature list (defaultFeatureRecords).
    static constexpr uint32_t kAuxInSampleSlot = 0x01003100;
    static constexpr uint32_t kDioSettings = 0x01003200;
    static constexpr uint32_t kDioOutputOffset = 12;
    static constexpr uint32_t kDioSampleSlot = 0x01003300;

    // Raw channel levels of the aux inputs: about +1 V and -1 V.
    static constexpr int16_t kAuxInLevel0 = 3277;
    static constexpr int16_t kAuxInLevel1 = -3277;

    AuxDioStreams(std::shared_ptr<SimInstrument> instrument, uint32_t samplesPerSecond,
                  std::function<bool()> hostReady, std::chrono::steady_clock::time_point start,
                  std::shared_ptr<StatusFlags> flags);
    ~AuxDioStreams();
    AuxDioStreams(const AuxDioStreams&) = delete;
    AuxDioStreams& operator=(const AuxDioStreams&) = delete;

private:
    void beat();

    std::shared_ptr<SimInstrument> instrument_;
    std::function<bool()> hostReady_;
    std::chrono::steady_clock::time_point start_;
    std::shared_ptr<StatusFlags> flags_;
    std::unique_ptr<Heartbeat> heartbeat_;
};

}  // namespace sim
}  // namespace tarnix
