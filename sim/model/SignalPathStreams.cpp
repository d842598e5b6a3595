#include "model/SignalPathStreams.h"

#include "core/ByteOrder.h"

#include <algorithm>

namespace tarnix {
namespace sim {

namespace {

constexpr uint32_t kPacketBytes = 40;
constexpr uint32_t kRateOffset = 0x0C;
constexpr uint32_t kOscSelectOffset = 0x10;
constexpr uint32_t kHarmonicOffset = 0x14;
constexpr uint32_t kDividerMask = 0xFFFFFF;
constexpr uint32_t kHarmonicOne = 0x80;
constexpr double kSamplesPerSecondAtDividerOne = 210000000.0 / 114.0;

uint32_t wordAt(SimInstrument& instrument, uint32_t address) {
    uint8_t bytes[4] = {};
    instrument.readRegisters(address, bytes, sizeof bytes);
    return le::get32(bytes);
}

void putWord(SimInstrument& instrument, uint32_t address, uint32_t word) {
    uint8_t bytes[4];
    le::put32(bytes, word);
    instrument.writeRegisters(address, bytes, sizeof bytes);
}

}  // namespace

SignalPathStreams::SignalPathStreams(std::shared_ptr<SimInstrument> instrument, std::function<bool()> hostReady,
                                     std::chrono::steady_clock::time_point start)
    : instrument_(std::move(instrument)), hostReady_(std::move(hostReady)), start_(start) {
    for (uint32_t d = 0; d < kDemods; ++d) {
        const uint32_t block = kSettings + d * kSettingsStride;
        putWord(*instrument_, block + kRateOffset, kDividerMask);
        putWord(*instrument_, block + kHarmonicOffset, kHarmonicOne);
    }
    heartbeat_ = std::make_unique<Heartbeat>(kTickHz, [this] { beat(); });
}

SignalPathStreams::~SignalPathStreams() { heartbeat_.reset(); }

void SignalPathStreams::beat() {
    if (!hostReady_()) return;
    const uint64_t ticks = deviceTicksSince(start_);
    for (uint32_t d = 0; d < kDemods; ++d) stream(d, ticks);
}

void SignalPathStreams::stream(uint32_t demod, uint64_t ticks) {
    const uint32_t block = kSettings + demod * kSettingsStride;
    const uint32_t divider = wordAt(*instrument_, block + kRateOffset) & kDividerMask;
    if (divider == 0 || divider == kDividerMask) {
        owed_[demod] = 0.0;
        return;
    }
    const double rate = std::min(kSamplesPerSecondAtDividerOne / divider, kMaxRate);
    owed_[demod] += rate / kTickHz;
    if (owed_[demod] < 1.0) return;

    const uint32_t osc = wordAt(*instrument_, block + kOscSelectOffset);
    uint8_t increment[8] = {};
    if (osc < kOscillatorCount)
        instrument_->readRegisters(kOscillators + osc * kOscillatorStride, increment, sizeof increment);
    uint8_t packet[kPacketBytes] = {};
    le::put16(packet + 6, uint16_t(wordAt(*instrument_, block + kHarmonicOffset)));
    le::put64(packet + 8, uint64_t(kSampleX));
    std::copy(increment, increment + 6, packet + 24);  // the low 48 bits
    const uint32_t slot = kSamples + 2 * demod * kSampleStride;
    for (; owed_[demod] >= 1.0; owed_[demod] -= 1.0) {
        le::put32(packet, uint32_t(ticks));
        le::put16(packet + 4, uint16_t(ticks >> 32));
        if (!instrument_->offerMessage(slot, packet, kPacketBytes, kQueueLimit)) {
            owed_[demod] = 0.0;  // an absent host loses the samples, as the instrument would
            return;
        }
    }
}

}  // namespace sim
}  // namespace tarnix
