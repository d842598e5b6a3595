#pragma once
#include "Heartbeat.h"
#include "SimInstrument.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace tarnix {
namespace sim {

// The demodulators of the built-in LQ3. At start their settings hold no
// continuous output (RATE divider 0xFFFFFF) and harmonic 1. Once a host has
// read the feature list, each demodulator whose RATE word holds a divider D
// streams 40-byte sample packets into its first sample slot at 210 MHz /
// (114 D) per second, at most kMaxRate: a constant X, Y = 0, the frequency of
// the oscillator its OSCSELECT names, its HARMONIC word, the time in ticks.
class SignalPathStreams {
public:
    static constexpr uint32_t kTickHz = 100;
    static constexpr double kMaxRate = 2000.0;         // samples per second and demodulator
    static constexpr std::size_t kQueueLimit = 65536;  // bytes a host may leave unread

    // Blocks of the built-in feature list (defaultFeatureRecords); the blocks
    // of demodulators 6 and 7 follow the six listed ones.
    static constexpr uint32_t kDemods = 8;
    static constexpr uint32_t kSettings = 0x01002000;
    static constexpr uint32_t kSettingsStride = 0x40;
    static constexpr uint32_t kSamples = 0x01002400;
    static constexpr uint32_t kSampleStride = 0x40;
    static constexpr uint32_t kOscillators = 0x01002800;
    static constexpr uint32_t kOscillatorStride = 0x10;
    static constexpr uint32_t kOscillatorCount = 2;
    // X of every sample: a quarter of full scale.
    static constexpr int64_t kSampleX = int64_t(1) << 61;

    SignalPathStreams(std::shared_ptr<SimInstrument> instrument, std::function<bool()> hostReady,
                      std::chrono::steady_clock::time_point start);
    ~SignalPathStreams();
    SignalPathStreams(const SignalPathStreams&) = delete;
    SignalPathStreams& operator=(const SignalPathStreams&) = delete;

private:
    void beat();
    void stream(uint32_t demod, uint64_t ticks);

    std::shared_ptr<SimInstrument> instrument_;
    std::function<bool()> hostReady_;
    std::chrono::steady_clock::time_point start_;
    std::array<double, kDemods> owed_{};  // samples due but not yet sent, per demodulator
    std::unique_ptr<Heartbeat> heartbeat_;
};

}  // namespace sim
}  // namespace tarnix
