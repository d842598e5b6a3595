#pragma once
// Loss accounting for lq3sim's test stream as it reaches a client of the server.
//
// "lq3sim --stream-address 0x01002400 --stream-bytes N" fills the sample slots
// of the demodulators (0x40 apart, 40-byte packets; demodulator d owns slots 2d
// and 2d + 1) with the same payload in every message: byte i is i & 0xFF, but
// the first four bytes count the messages. A packet starts with its 48-bit time,
// so slot 0 carries 0x0504'<count> and every other slot s a constant made of
// the bytes 64 s .. 64 s + 5. The server extends these times to 64 bits with
// one extender for all demodulators of the instrument: each step back by 2^46
// or more starts a new 2^48 epoch. Since the slots' times go back at the same
// places in every message, the epoch (bits 48..63 of a received time) grows by
// a fixed number per message. A received sample's slot (from its 48-bit time)
// and its epoch tell where in its stream it lies, slot 0's count tells it
// exactly; every sample missing between two received ones is counted as lost.
//
// Exact for samples lost after the server made them (dispatcher, sessions):
// runs of any length in binary blocks; in text, where times are a few thousand
// ticks off, demodulator 0's runs of any length and the other streams' runs
// shorter than 2^16 epochs. Samples the server never made because its device
// loop gave up on a message part way count exactly as long as it converted at
// least two slots of that message (and the next message whole); whole messages
// it dropped are seen in demodulator 0's stream only.
//
// Header only, for the streaming benchmark and for end-to-end tests:
//   DemodTestStreamTally tally(768);  // --stream-bytes
//   for each binary value event of a .../DEMODS/n/SAMPLE path:
//       tally.addBlock(DemodTestStreamTally::demodOfPath(path, length), data, count);
//   then tally.lost() == 0, tally.unexpected() == 0.
#include "platform/endian/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace tarnix {
namespace test {

class DemodTestStreamLayout {
public:
    static constexpr uint32_t kSampleBlock = 0x01002400;  // the demodulators' sample slots
    static constexpr uint32_t kSlotStride = 0x40;
    static constexpr uint32_t kPacketBytes = 40;
    static constexpr uint32_t kMaxDemods = 6;  // the demodulators the built-in feature list names
    static constexpr uint32_t kMaxSlots = 2 * kMaxDemods;
    static constexpr uint64_t kTimeMask = (uint64_t(1) << 48) - 1;

    // `payloadBytes` as given to --stream-bytes: slots that a whole packet fills.
    explicit DemodTestStreamLayout(uint32_t payloadBytes) {
        const uint32_t payload = std::min<uint32_t>(payloadBytes, 4096) & ~3u;
        while (slots_ < kMaxSlots && slots_ * kSlotStride + kPacketBytes <= payload) ++slots_;
        // The extender's epochs over one message, as the server counts them.
        uint64_t last = slotTime(slots_ ? slots_ - 1 : 0);
        uint32_t epochs = 0;
        for (uint32_t s = 0; s < slots_; ++s) {
            if (wraps(last, slotTime(s)) && s != 0) ++epochs;
            epochsBefore_[s] = epochs;
            last = slotTime(s);
        }
        epochsPerMessage_ = epochs + (slots_ && wraps(last, slotTime(0)) ? 1 : 0);
    }

    uint32_t slots() const { return slots_; }
    uint32_t demods() const { return (slots_ + 1) / 2; }
    uint32_t slotsOf(uint32_t demod) const { return demod < demods() ? std::min<uint32_t>(2, slots_ - 2 * demod) : 0; }
    uint32_t epochsPerMessage() const { return epochsPerMessage_; }
    // Epochs started within a message before its slot s (after slot 0).
    uint32_t epochsBefore(uint32_t slot) const { return epochsBefore_[slot]; }

    // The 48-bit time of slot s; slot 0's low 32 bits count the messages.
    static uint64_t slotTime(uint32_t slot, uint32_t count = 0x80000000u) {
        uint8_t bytes[8] = {};
        for (uint32_t i = 0; i < 6; ++i) bytes[i] = uint8_t(slot * kSlotStride + i);
        if (slot == 0) le::put32(bytes, count);
        return le::get64(bytes) & kTimeMask;
    }

    // Which of demodulator d's slots a received 48-bit time belongs to (0 or 1),
    // -1 for none. `tolerance`: ticks a time read back from text may be off.
    int slotIndexOf(uint32_t demod, uint64_t time48, uint64_t tolerance) const {
        for (uint32_t j = 0; j < slotsOf(demod); ++j) {
            const uint32_t slot = 2 * demod + j;
            if (slot == 0) {
                const uint64_t low = slotTime(0, 0);
                if (time48 + tolerance >= low && time48 <= low + 0xFFFFFFFFull + tolerance) return int(j);
            } else {
                const uint64_t expected = slotTime(slot);
                const uint64_t distance = time48 > expected ? time48 - expected : expected - time48;
                if (distance <= tolerance) return int(j);
            }
        }
        return -1;
    }

private:
    static bool wraps(uint64_t last, uint64_t now) { return int64_t(last - now) >= (int64_t(1) << 46); }

    uint32_t slots_ = 0;
    uint32_t epochsPerMessage_ = 0;
    std::array<uint32_t, kMaxSlots> epochsBefore_{};
};

// One demodulator's stream as one client receives it.
class DemodTestStreamCounter {
public:
    // Ticks a time read back from the text protocol (seconds with nine digits,
    // from a double) may be off.
    static constexpr uint64_t kTextTolerance = uint64_t(1) << 16;

    DemodTestStreamCounter(const DemodTestStreamLayout& layout, uint32_t demod) : layout_(layout), demod_(demod) {}

    // One received sample's 64-bit time; `exact` is false for times read back
    // from text.
    void add(uint64_t time, bool exact) {
        const uint64_t time48 = time & DemodTestStreamLayout::kTimeMask;
        const int j = layout_.slotIndexOf(demod_, time48, exact ? 0 : kTextTolerance);
        if (j < 0) {
            ++unexpected_;
            return;
        }
        ++received_;
        const uint32_t slot = 2 * demod_ + uint32_t(j);
        const uint32_t epoch = uint32_t(time >> 48);
        const bool counted = slot == 0;  // the slot carries the message count
        const uint32_t count = uint32_t(time48);
        if (!started_) {
            started_ = true;
            message_ = counted && exact ? int64_t(count) : 0;
        } else {
            const int64_t step = messageStep(slot, epoch, counted, exact, count);
            const int64_t gap = (step * slotsPerMessage() + j) - int64_t(index_) - 1;
            if (gap < 0) {
                ++unexpected_;  // a sample again or out of order
            } else if (gap > 0) {
                lost_ += uint64_t(gap);
            }
            if (!stepped_ || lastStepEpochs_ > longestStep_) longestStep_ = lastStepEpochs_;
            stepped_ = true;
            message_ += step;
        }
        if (counted) {
            countSeen_ = true;
            lastCount_ = count;
            lastCountExact_ = exact;
            lastCountMessage_ = message_;
        }
        index_ = uint32_t(j);
        slot_ = slot;
        epoch_ = epoch;
    }

    // A block of samples (one event) ends. A run of lost samples so long that
    // the epoch went round (2^16 epochs) is found by comparing this stream's
    // progress with that of `reference` (demodulator 0, whose count is exact)
    // over the blocks since both last had one; it lies in the longest step.
    void endBlock(const DemodTestStreamCounter* reference) {
        ++blocks_;
        if (!reference || reference == this || !reference->anchored()) return;
        if (markSet_ && reference->blocks_ == referenceBlocksMark_) return;  // the reference has not moved yet
        const uint32_t perMessage = layout_.epochsPerMessage();
        if (markSet_ && stepped_ && perMessage) {
            const double period = 65536.0 / perMessage;
            const double behind = double(reference->message_ - referenceMark_) - double(message_ - mark_);
            const int64_t rounds = int64_t(std::floor(behind / period + 0.5));
            if (rounds > 0) {
                const int64_t messages = messagesOf(longestStep_ + rounds * 65536) - messagesOf(longestStep_);
                message_ += messages;
                lost_ += uint64_t(messages) * uint64_t(slotsPerMessage());
            }
        }
        stepped_ = false;
        markSet_ = true;
        mark_ = message_;
        referenceMark_ = reference->message_;
        referenceBlocksMark_ = reference->blocks_;
    }

    uint64_t received() const { return received_; }
    uint64_t lost() const { return lost_; }
    // Samples that belong to no slot of this stream, or that came again.
    uint64_t unexpected() const { return unexpected_; }
    // Whether the stream has seen an exact message count (binary, slot 0).
    bool anchored() const { return countSeen_ && lastCountExact_; }
    // The message of the last sample, counted from where the stream began.
    int64_t message() const { return message_; }

private:
    int64_t slotsPerMessage() const { return int64_t(layout_.slotsOf(demod_)); }

    // Messages that started `epochs` epochs, rounded up: a message the device
    // loop cut short started fewer.
    int64_t messagesOf(int64_t epochs) const {
        const int64_t perMessage = layout_.epochsPerMessage();
        return epochs <= 0 ? epochs / perMessage : (epochs + perMessage - 1) / perMessage;
    }

    // Messages from the previous sample to this one.
    int64_t messageStep(uint32_t slot, uint32_t epoch, bool counted, bool exact, uint32_t count) {
        const uint32_t index = slot - 2 * demod_;
        const int64_t least = index <= index_ ? 1 : 0;  // a stream never goes back
        const int64_t sinceCount = countSeen_ ? message_ - lastCountMessage_ : 0;
        lastStepEpochs_ = 0;
        if (counted && exact && countSeen_ && lastCountExact_)
            return int64_t(uint32_t(count - lastCount_)) - sinceCount;
        const uint32_t perMessage = layout_.epochsPerMessage();
        if (perMessage == 0) return least;  // nothing to tell a gap by
        const int64_t epochs = int64_t(uint16_t(epoch - epoch_)) - int64_t(layout_.epochsBefore(slot)) +
                               int64_t(layout_.epochsBefore(slot_));
        int64_t rounds = 0;  // times the 16-bit epoch went round since the last sample
        if (counted && countSeen_) {
            // A count read back from text is a few thousand off: it picks the round.
            const int64_t hint = int64_t(int32_t(count - lastCount_)) - sinceCount;
            for (int64_t r = 1; messagesOf(epochs + r * 65536) <= hint + 65536; ++r)
                if (std::llabs(messagesOf(epochs + r * 65536) - hint) <
                    std::llabs(messagesOf(epochs + rounds * 65536) - hint))
                    rounds = r;
        } else {
            while (messagesOf(epochs + rounds * 65536) < least) ++rounds;
        }
        lastStepEpochs_ = epochs + rounds * 65536;
        return std::max(least, messagesOf(lastStepEpochs_));
    }

    const DemodTestStreamLayout& layout_;
    uint32_t demod_;
    bool started_ = false;
    int64_t message_ = 0;  // message of the last sample
    uint32_t index_ = 0;   // its slot among the demodulator's slots
    uint32_t slot_ = 0;
    uint32_t epoch_ = 0;
    bool countSeen_ = false;
    bool lastCountExact_ = false;
    uint32_t lastCount_ = 0;
    int64_t lastCountMessage_ = 0;
    int64_t lastStepEpochs_ = 0;  // epochs of the last step, less the slots' own
    bool stepped_ = false;
    int64_t longestStep_ = 0;  // those of the longest step since the marks
    uint64_t blocks_ = 0;
    uint64_t referenceBlocksMark_ = 0;
    bool markSet_ = false;
    int64_t mark_ = 0;
    int64_t referenceMark_ = 0;
    uint64_t received_ = 0;
    uint64_t lost_ = 0;
    uint64_t unexpected_ = 0;
};

// Every demodulator stream of the layout as one client receives them.
class DemodTestStreamTally {
public:
    explicit DemodTestStreamTally(uint32_t payloadBytes) : layout_(payloadBytes) {
        for (uint32_t d = 0; d < layout_.demods(); ++d) streams_.emplace_back(layout_, d);
    }
    DemodTestStreamTally(const DemodTestStreamTally&) = delete;
    DemodTestStreamTally& operator=(const DemodTestStreamTally&) = delete;

    const DemodTestStreamLayout& layout() const { return layout_; }

    // The demodulator of a SAMPLE path ("/DEV1000/DEMODS/3/SAMPLE"), -1 for none.
    static int demodOfPath(const char* path, std::size_t length) {
        const std::string text(path, length);
        const std::size_t at = text.find("/DEMODS/");
        if (at == std::string::npos) return -1;
        return std::atoi(text.c_str() + at + 8);
    }

    // A binary block of 64-byte samples of demodulator d.
    void addBlock(int demod, const uint8_t* samples, uint32_t count) {
        if (!known(demod)) {
            foreign_ += count;
            return;
        }
        DemodTestStreamCounter& stream = streams_[std::size_t(demod)];
        for (uint32_t i = 0; i < count; ++i) stream.add(le::get64(samples + 64 * std::size_t(i)), true);
        stream.endBlock(&streams_[0]);
    }

    // One sample read back from text; endTextBlock when its block has ended.
    void addText(int demod, uint64_t time) {
        if (known(demod)) streams_[std::size_t(demod)].add(time, false);
        else ++foreign_;
    }
    void endTextBlock(int demod) {
        if (known(demod)) streams_[std::size_t(demod)].endBlock(&streams_[0]);
    }

    uint64_t received() const { return sum(&DemodTestStreamCounter::received) + foreign_; }
    uint64_t lost() const { return sum(&DemodTestStreamCounter::lost); }
    uint64_t unexpected() const { return sum(&DemodTestStreamCounter::unexpected) + foreign_; }
    const DemodTestStreamCounter& stream(uint32_t demod) const { return streams_.at(demod); }

private:
    bool known(int demod) const { return demod >= 0 && std::size_t(demod) < streams_.size(); }
    uint64_t sum(uint64_t (DemodTestStreamCounter::*field)() const) const {
        uint64_t total = 0;
        for (const DemodTestStreamCounter& s : streams_) total += (s.*field)();
        return total;
    }

    DemodTestStreamLayout layout_;
    std::vector<DemodTestStreamCounter> streams_;
    uint64_t foreign_ = 0;
};

// The tick count behind a text timestamp ("TS=" seconds with nine fraction
// digits, the ticks read as a signed number): exact to a few thousand ticks.
// False when the text is no such number.
inline bool ticksOfSecondsText(const char* text, const char* end, uint64_t& ticks) {
    bool negative = false;
    if (text < end && *text == '-') {
        negative = true;
        ++text;
    }
    unsigned __int128 nanoseconds = 0;
    int fraction = -1;
    bool digits = false;
    for (; text < end; ++text) {
        if (*text == '.' && fraction < 0) {
            fraction = 0;
            continue;
        }
        if (*text < '0' || *text > '9') break;
        digits = true;
        if (fraction >= 0 && ++fraction > 9) continue;
        nanoseconds = nanoseconds * 10 + unsigned(*text - '0');
    }
    if (!digits) return false;
    if (fraction < 0) fraction = 0;
    for (; fraction < 9; ++fraction) nanoseconds *= 10;
    // 210 MHz: 21 ticks per 100 ns.
    const uint64_t magnitude = uint64_t((nanoseconds * 21 + 50) / 100);
    ticks = negative ? uint64_t(0) - magnitude : magnitude;
    return true;
}

// Reads a text client's subscription output into a tally: a block is its path
// line ("/DEV1000/DEMODS/0/SAMPLE:") and one "TS=..." line per sample. A line
// the server cut short at the end of its output buffer runs into the next path
// line; the cut sample is then missing like a lost one.
class DemodTestStreamTextReader {
public:
    explicit DemodTestStreamTextReader(DemodTestStreamTally& tally) : tally_(tally) {}

    void feed(const char* data, std::size_t length) {
        pending_.append(data, length);
        std::size_t start = 0;
        for (std::size_t end; (end = pending_.find("\r\n", start)) != std::string::npos; start = end + 2)
            line(pending_.data() + start, pending_.data() + end);
        pending_.erase(0, start);
    }
    // Lines that were neither a path nor a sample.
    uint64_t otherLines() const { return otherLines_; }

private:
    void line(const char* begin, const char* end) {
        if (end - begin >= 3 && begin[0] == 'T' && begin[1] == 'S' && begin[2] == '=' && end[-1] != ':') {
            uint64_t ticks = 0;
            if (ticksOfSecondsText(begin + 3, end, ticks)) {
                tally_.addText(demod_, ticks);
                return;
            }
        }
        const std::string text(begin, end);
        const std::size_t path = text.find("/DEMODS/");
        if (!text.empty() && text.back() == ':' && path != std::string::npos) {
            tally_.endTextBlock(demod_);
            demod_ = DemodTestStreamTally::demodOfPath(text.data() + path, text.size() - path);
            return;
        }
        ++otherLines_;
    }

    DemodTestStreamTally& tally_;
    std::string pending_;
    int demod_ = -1;
    uint64_t otherLines_ = 0;
};

}  // namespace test
}  // namespace tarnix
