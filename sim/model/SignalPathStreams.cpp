#include "model/SignalPathStreams.h"

#include "Heartbeat.h"
#include "platform/endian/ByteOrder.h"
#include "model/WatchedWord.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>

namespace tarnix {
namespace sim {

namespace {

constexpr uint32_t kPacketBytes = 40;
constexpr uint32_t kOscSelectOffset = 0x10;
constexpr uint32_t kHarmonicOffset = 0x14;
constexpr uint32_t kHarmonicOne = 0x80;
constexpr uint64_t kNanosecondsPer21Ticks = 100;  // 210 MHz

void putWord(SimInstrument& instrument, uint32_t address, uint32_t word) {
    uint8_t bytes[4];
    le::put32(bytes, word);
    instrument.writeRegisters(address, bytes, sizeof bytes);
}

uint32_t wordAt(RegisterSpace& registers, uint32_t address) {
    uint8_t bytes[4] = {};
    registers.read(address, bytes, sizeof bytes);
    return le::get32(bytes);
}

}  // namespace

// The samples of every demodulator: where each stream stands, what falls due
// when. Rate words arrive through the registers (with the instrument locked),
// the instrument asks for due samples when the host reads (locked as well),
// and the thread of SignalPathStreams waits here for the next due sample.
class SignalPathStreams::Samples : public StreamSource {
public:
    Samples(std::function<bool()> hostReady, std::chrono::steady_clock::time_point start,
            std::shared_ptr<StatusFlags> flags)
        : hostReady_(std::move(hostReady)), start_(start), flags_(std::move(flags)) {}

    void checkOverflow() {
        if (!hostReady_()) return;
        const uint64_t now = deviceTicks64Since(start_);
        std::lock_guard<std::mutex> lock(mutex_);
        for (Stream& stream : streams_) dropOverflow(stream, now);
    }

    void rateWritten(uint32_t demod, uint32_t word) {
        const uint32_t divider = word & kDividerMask;
        const uint64_t interval = divider == 0 || divider == kDividerMask ? 0 : kTicksPerStep * divider;
        std::lock_guard<std::mutex> lock(mutex_);
        Stream& stream = streams_[demod];
        if (interval == stream.interval) return;
        stream.interval = interval;
        // The first sample at the next step of the new divider on the common clock.
        if (interval) stream.next = (deviceTicks64Since(start_) / interval + 1) * interval;
        changed_.notify_all();
    }

    bool due() override {
        if (!hostReady_()) return false;
        const uint64_t now = deviceTicks64Since(start_);
        std::lock_guard<std::mutex> lock(mutex_);
        return std::any_of(streams_.begin(), streams_.end(),
                           [now](const Stream& s) { return s.interval && s.next <= now; });
    }

    void produce(RegisterSpace& registers, const Send& send) override {
        if (!hostReady_()) return;
        const uint64_t now = deviceTicks64Since(start_);
        std::lock_guard<std::mutex> lock(mutex_);
        std::array<std::array<uint8_t, kSampleStride + kPacketBytes>, kDemods> messages{};
        for (uint32_t d = 0; d < kDemods; ++d) {
            Stream& stream = streams_[d];
            if (!stream.interval || stream.next > now) continue;
            dropOverflow(stream, now);
            packetTemplate(registers, d, messages[d].data());
            std::copy_n(messages[d].data(), kPacketBytes, messages[d].data() + kSampleStride);
        }
        for (;;) {
            // Oldest first across the demodulators, as the instrument samples them.
            Stream* oldest = nullptr;
            uint32_t demod = 0;
            for (uint32_t d = 0; d < kDemods; ++d) {
                Stream& s = streams_[d];
                if (s.interval && s.next <= now && (!oldest || s.next < oldest->next)) {
                    oldest = &s;
                    demod = d;
                }
            }
            if (!oldest) return;
            uint8_t* message = messages[demod].data();
            const bool two = oldest->next + oldest->interval <= now;
            putTime(message, oldest->next);
            if (two) putTime(message + kSampleStride, oldest->next + oldest->interval);
            const uint32_t length = two ? kSampleStride + kPacketBytes : kPacketBytes;
            if (!send(kSamples + 2 * demod * kSampleStride, message, length)) return;
            oldest->next += (two ? 2 : 1) * oldest->interval;
        }
    }

    // Waits until a sample has fallen due, but not before `earliest`; false once
    // stopped. Without a stream that is on it waits for a rate, not for time.
    bool waitForDue(std::chrono::steady_clock::time_point earliest) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (stopping_) return false;
            uint64_t next = UINT64_MAX;
            for (const Stream& s : streams_)
                if (s.interval) next = std::min(next, s.next);
            if (next == UINT64_MAX) {
                changed_.wait(lock);
                continue;
            }
            const auto dueAt = start_ + std::chrono::nanoseconds((next * kNanosecondsPer21Ticks + 20) / 21);
            const auto wake = std::max(dueAt, earliest);
            if (std::chrono::steady_clock::now() >= wake) return true;
            changed_.wait_until(lock, wake);
        }
    }

    void stop() {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }

private:
    struct Stream {
        uint64_t interval = 0;  // ticks between samples; 0: off
        uint64_t next = 0;      // time of the next sample to send
    };

    // A FIFO full of this demodulator's samples has lost the oldest.
    void dropOverflow(Stream& stream, uint64_t now) {
        if (!stream.interval || stream.next > now) return;
        const uint64_t waiting = (now - stream.next) / stream.interval + 1;
        if (waiting <= kFifoSamples) return;
        stream.next += (waiting - kFifoSamples) * stream.interval;
        if (flags_) flags_->raise(StatusFlags::kDemodSampleLoss);
    }

    static void putTime(uint8_t* packet, uint64_t ticks) {
        le::put32(packet, uint32_t(ticks));
        le::put16(packet + 4, uint16_t(ticks >> 32));
    }

    // Demodulator d's packet as its settings make it; the time goes in later.
    static void packetTemplate(RegisterSpace& registers, uint32_t d, uint8_t* packet) {
        const uint32_t block = kSettings + d * kSettingsStride;
        const uint32_t osc = wordAt(registers, block + kOscSelectOffset);
        uint8_t increment[8] = {};
        if (osc < kOscillatorCount) registers.read(kOscillators + osc * kOscillatorStride, increment, 8);
        le::put16(packet + 6, uint16_t(wordAt(registers, block + kHarmonicOffset)));
        le::put64(packet + 8, uint64_t(kSampleX));
        std::copy(increment, increment + 6, packet + 24);  // the low 48 bits
    }

    std::function<bool()> hostReady_;
    std::chrono::steady_clock::time_point start_;
    std::shared_ptr<StatusFlags> flags_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::array<Stream, kDemods> streams_{};
};

SignalPathStreams::SignalPathStreams(std::shared_ptr<SimInstrument> instrument, std::function<bool()> hostReady,
                                     std::chrono::steady_clock::time_point start,
                                     std::shared_ptr<StatusFlags> flags)
    : instrument_(std::move(instrument)),
      samples_(std::make_shared<Samples>(std::move(hostReady), start, std::move(flags))) {
    for (uint32_t d = 0; d < kDemods; ++d) {
        const uint32_t rate = kSettings + d * kSettingsStride + kRateOffset;
        instrument_->addRegion(rate, 4, std::make_shared<WatchedWord>(rate, [samples = samples_, d](uint32_t word) {
                                   samples->rateWritten(d, word);
                               }));
    }
    instrument_->addStreamSource(samples_);
    for (uint32_t d = 0; d < kDemods; ++d) {
        const uint32_t block = kSettings + d * kSettingsStride;
        putWord(*instrument_, block + kRateOffset, kDividerMask);
        putWord(*instrument_, block + kHarmonicOffset, kHarmonicOne);
    }
    thread_ = std::thread([this] { answerReads(); });
}

SignalPathStreams::~SignalPathStreams() {
    samples_->stop();
    thread_.join();
}

void SignalPathStreams::checkOverflow() { samples_->checkOverflow(); }

void SignalPathStreams::answerReads() {
    auto earliest = std::chrono::steady_clock::now();
    while (samples_->waitForDue(earliest)) {
        instrument_->dataDue();
        earliest = std::chrono::steady_clock::now() + kAnswerPeriod;
    }
}

}  // namespace sim
}  // namespace tarnix
