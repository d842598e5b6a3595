#include "model/AuxDioStreams.h"

#include "platform/endian/ByteOrder.h"

namespace tarnix {
namespace sim {

namespace {

constexpr uint32_t kPacketBytes = 12;
constexpr uint32_t kPayloadOffset = 8;
constexpr uint32_t kDioOutputBits = 0xFFFF;

// 48-bit time, 2 unused bytes; the payload follows.
void putTime(uint8_t* packet, uint64_t ticks) {
    le::put32(packet, uint32_t(ticks));
    le::put16(packet + 4, uint16_t(ticks >> 32));
}

}  // namespace

AuxDioStreams::AuxDioStreams(std::shared_ptr<SimInstrument> instrument, uint32_t samplesPerSecond,
                             std::function<bool()> hostReady, std::chrono::steady_clock::time_point start,
                             std::shared_ptr<StatusFlags> flags)
    : instrument_(std::move(instrument)), hostReady_(std::move(hostReady)), start_(start), flags_(std::move(flags)) {
    heartbeat_ = std::make_unique<Heartbeat>(samplesPerSecond, [this] { beat(); });
}

AuxDioStreams::~AuxDioStreams() { heartbeat_.reset(); }

void AuxDioStreams::beat() {
    if (!hostReady_()) return;
    const uint64_t ticks = deviceTicksSince(start_);

    uint8_t auxIn[kPacketBytes] = {};
    putTime(auxIn, ticks);
    le::put16(auxIn + kPayloadOffset, uint16_t(kAuxInLevel0));
    le::put16(auxIn + kPayloadOffset + 2, uint16_t(kAuxInLevel1));
    bool sent = instrument_->offerMessage(kAuxInSampleSlot, auxIn, kPacketBytes, kQueueLimit);

    uint8_t output[4] = {};
    instrument_->readRegisters(kDioSettings + kDioOutputOffset, output, sizeof output);
    uint8_t dio[kPacketBytes] = {};
    putTime(dio, ticks);
    le::put32(dio + kPayloadOffset, le::get32(output) & kDioOutputBits);
    sent = instrument_->offerMessage(kDioSampleSlot, dio, kPacketBytes, kQueueLimit) && sent;
    // Only a running design sends at all; a full queue loses the packets.
    if (!sent && flags_ && instrument_->fpgaState() == SimInstrument::FpgaState::running)
        flags_->raise(StatusFlags::kPacketLoss);
}

}  // namespace sim
}  // namespace tarnix
