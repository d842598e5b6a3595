#pragma once
#include "SimInstrument.h"
#include "StatusFlags.h"

#include <thread>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace tarnix {
namespace sim {

// The demodulators of the built-in LQ3. At start their settings hold no
// continuous output (RATE divider 0xFFFFFF) and harmonic 1. Once a host has
// read the feature list, each demodulator whose RATE word holds a divider D
// streams 40-byte sample packets at 210 MHz / (114 D) per second, their times
// kTicksPerStep x D ticks apart on the demodulators' common output clock: a
// constant X, Y = 0, the frequency of the oscillator its OSCSELECT names, its
// HARMONIC word. The samples wait in the instrument's FIFO until the host
// reads (two per message, in the demodulator's two sample slots); when more
// than kFifoSamples of one demodulator wait, the oldest are lost and the times
// show the gap, and the demod-sample-loss bit of `flags` is raised. Nothing
// runs while every demodulator is off.
class SignalPathStreams {
public:
    // Blocks of the built-in feature list (defaultFeatureRecords); the blocks
    // of demodulators 6 and 7 follow the six listed ones.
    static constexpr uint32_t kDemods = 8;
    static constexpr uint32_t kSettings = 0x01002000;
    static constexpr uint32_t kSettingsStride = 0x40;
    static constexpr uint32_t kRateOffset = 0x0C;
    static constexpr uint32_t kSamples = 0x01002400;
    static constexpr uint32_t kSampleStride = 0x40;
    static constexpr uint32_t kOscillators = 0x01002800;
    static constexpr uint32_t kOscillatorStride = 0x10;
    static constexpr uint32_t kOscillatorCount = 2;
    // X of every sample: a quarter of full scale.
    static constexpr int64_t kSampleX = int64_t(1) << 61;

    static constexpr uint64_t kTicksPerStep = 114;  // the output clock: 210 MHz / 114
    static constexpr uint32_t kDividerMask = 0xFFFFFF;
    static constexpr uint64_t kFifoSamples = 524288;  // per demodulator
    // Waiting reads are answered at most this often while samples fall due.
    static constexpr std::chrono::microseconds kAnswerPeriod{1000};

    SignalPathStreams(std::shared_ptr<SimInstrument> instrument, std::function<bool()> hostReady,
                      std::chrono::steady_clock::time_point start, std::shared_ptr<StatusFlags> flags);
    ~SignalPathStreams();
    SignalPathStreams(const SignalPathStreams&) = delete;
    SignalPathStreams& operator=(const SignalPathStreams&) = delete;

    // Drops what overflowed the FIFO by now, so that a loss shows in the
    // status while the host reads nothing at all.
    void checkOverflow();

private:
    class Samples;

    void answerReads();

    std::shared_ptr<SimInstrument> instrument_;
    std::shared_ptr<Samples> samples_;
    std::thread thread_;
};

}  // namespace sim
}  // namespace tarnix
