#include "model/FrontEndScope.h"

#include "platform/endian/ByteOrder.h"
#include "model/WatchedWord.h"

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

FrontEndScope::FrontEndScope(std::shared_ptr<SimInstrument> instrument, std::function<bool()> hostReady,
                             std::shared_ptr<StatusFlags> flags)
    : instrument_(std::move(instrument)),
      hostReady_(std::move(hostReady)),
      flags_(std::move(flags)),
      heartbeat_(std::make_unique<Heartbeat>(kWavesPerSecond, [this] { beat(); }, false)),
      switch_(std::make_shared<TriggerSwitch>()) {
    switch_->heartbeat = heartbeat_.get();
    const uint32_t trigger = kSettings + kTrigChannelOffset;
    instrument_->addRegion(trigger, 4, std::make_shared<WatchedWord>(trigger, [on = switch_](uint32_t word) {
                               std::lock_guard<std::mutex> lock(on->mutex);
                               if (on->heartbeat) on->heartbeat->setRunning(word != kTriggerOff);
                           }));
    uint8_t off[4];
    le::put32(off, kTriggerOff);
    instrument_->writeRegisters(trigger, off, sizeof off);
}

FrontEndScope::~FrontEndScope() {
    {
        std::lock_guard<std::mutex> lock(switch_->mutex);
        switch_->heartbeat = nullptr;
    }
    heartbeat_.reset();
}

void FrontEndScope::beat() {
    if (!hostReady_()) return;

    std::vector<uint8_t> wave(kWaveBytes);
    const double phase = kPhaseStepPerWave * wavesSent_++;
    for (uint32_t i = 0; i < kSamples; ++i) {
        const double angle = 2.0 * M_PI * double(i) / kSamplesPerPeriod + phase;
        le::put16(wave.data() + 2 * i, uint16_t(int16_t(std::lround(kAmplitude * std::sin(angle)))));
    }
    // Only a running design sends at all; a full queue skips the wave.
    if (!instrument_->offerMessage(kWave, wave.data(), kWaveBytes, kQueueLimit) && flags_ &&
        instrument_->fpgaState() == SimInstrument::FpgaState::running)
        flags_->raise(StatusFlags::kScopeSkipped);
}

}  // namespace sim
}  // namespace tarnix
