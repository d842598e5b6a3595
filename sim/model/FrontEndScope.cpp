#include "model/FrontEndScope.h"

#include "core/ByteOrder.h"

#include <cmath>
#include <vector>

namespace tarnix {
namespace sim {

namespace {

constexpr uint32_t kSamples = FrontEndScope::kWaveBytes / 2;
constexpr double kAmplitude = 16000.0;
constexpr double kSamplesPerPeriod = 256.0;
constexpr double kPhaseStepPerWave = 0.1;

}  // namespace

FrontEndScope::FrontEndScope(std::shared_ptr<SimInstrument> instrument, std::function<bool()> hostReady)
    : instrument_(std::move(instrument)), hostReady_(std::move(hostReady)) {
    uint8_t off[4];
    le::put32(off, kTriggerOff);
    instrument_->writeRegisters(kSettings + kTrigChannelOffset, off, sizeof off);
    heartbeat_ = std::make_unique<Heartbeat>(kWavesPerSecond, [this] { beat(); });
}

FrontEndScope::~FrontEndScope() { heartbeat_.reset(); }

void FrontEndScope::beat() {
    if (!hostReady_()) return;
    uint8_t trigger[4] = {};
    instrument_->readRegisters(kSettings + kTrigChannelOffset, trigger, sizeof trigger);
    if (le::get32(trigger) == kTriggerOff) return;

    std::vector<uint8_t> wave(kWaveBytes);
    const double phase = kPhaseStepPerWave * wavesSent_++;
    for (uint32_t i = 0; i < kSamples; ++i) {
        const double angle = 2.0 * M_PI * double(i) / kSamplesPerPeriod + phase;
        le::put16(wave.data() + 2 * i, uint16_t(int16_t(std::lround(kAmplitude * std::sin(angle)))));
    }
    instrument_->offerMessage(kWave, wave.data(), kWaveBytes, kQueueLimit);
}

}  // namespace sim
}  // namespace tarnix
