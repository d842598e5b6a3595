#pragma once
// Checks of a subscriber's demodulator sample stream as it arrives, so that a
// broken or altered message is never taken for a loss or for good data:
//  - StreamFault: what a checker found first, and how many faults.
//  - SampleStepCheck: samples made at a set rate are one step apart per node;
//    a gap of whole steps is loss, anything else a fault.
//  - BinaryStreamCheck: the framing of the binary protocol, each message's
//    length against its count, and the steps of its samples.
//  - TextSampleLine: whether a text line is one whole demodulator sample line.
// A checker never skips bytes: once the framing is lost it stops and says so.
#include "platform/endian/ByteOrder.h"
#include "wire/BinaryWire.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

namespace tarnix {
namespace test {

struct StreamFault {
    uint64_t count = 0;
    std::string first;  // the first fault, with where it was found

    void add(const std::string& what) {
        if (count++ == 0) first = what;
    }
};

// The samples of every node, made at one rate: each `step` ticks after the
// one before. `tolerance`: ticks a time may be off (times read back from text).
class SampleStepCheck {
public:
    explicit SampleStepCheck(uint64_t step, uint64_t tolerance = 0) : step_(step), tolerance_(tolerance) {}

    // False when the time is not a whole number of steps after the node's last.
    // Counts every sample, lost ones and faults apart.
    bool add(const std::string& node, uint64_t time, std::string& why) {
        ++received_;
        auto last = last_.find(node);
        if (last == last_.end()) {
            last_.emplace(node, time);
            first_[node] = time;
            return true;
        }
        const uint64_t before = last->second;
        last->second = time;
        const uint64_t steps = time > before ? (time - before + step_ / 2) / step_ : 0;
        const uint64_t off = steps == 0 ? 0 : time - before > steps * step_ ? time - before - steps * step_
                                                                              : steps * step_ - (time - before);
        if (steps == 0 || off > tolerance_) {
            why = node + ": time " + std::to_string(time) + " after " + std::to_string(before) + ", step " +
                  std::to_string(step_);
            // The node starts anew, so that one bad message is one fault.
            last_.erase(last);
            first_.erase(node);
            return false;
        }
        lost_ += steps - 1;
        return true;
    }

    uint64_t received() const { return received_; }
    uint64_t lost() const { return lost_; }
    uint64_t nodes() const { return last_.size(); }
    // The samples the instrument made from each node's first time to its
    // last, one step apart: what a client that lost nothing received.
    uint64_t made() const {
        uint64_t samples = 0;
        for (const auto& last : last_) samples += (last.second - first_.at(last.first) + step_ / 2) / step_ + 1;
        return samples;
    }
    // The instrument time every node has reached, and the latest any has.
    uint64_t reachedByAll() const {
        uint64_t time = last_.empty() ? 0 : UINT64_MAX;
        for (const auto& last : last_) time = std::min(time, last.second);
        return time;
    }
    uint64_t reachedByAny() const {
        uint64_t time = 0;
        for (const auto& last : last_) time = std::max(time, last.second);
        return time;
    }

private:
    const uint64_t step_;
    const uint64_t tolerance_;
    std::map<std::string, uint64_t> first_;  // of each node's run of good steps
    std::map<std::string, uint64_t> last_;
    uint64_t received_ = 0;
    uint64_t lost_ = 0;
};

// A binary client's received bytes, message by message.
class BinaryStreamCheck {
public:
    // Longer than any message the server makes.
    static constexpr uint32_t kLongestMessage = 64u << 20;

    // A whole, checked demodulator sample message.
    struct Samples {
        std::string path;
        const uint8_t* data;  // `count` samples of kDemodSampleSize bytes
        uint32_t count;
    };

    // `steps`: the step check of the samples' times, none for other streams.
    explicit BinaryStreamCheck(SampleStepCheck* steps) : steps_(steps) {}

    // Checks the whole messages at the start of `data` and hands each sample
    // message to `take`; returns the bytes they took. Nothing once the
    // framing is lost.
    template <class Take>
    std::size_t feed(const uint8_t* data, std::size_t length, Take take) {
        std::size_t at = 0;
        while (!framingLost_ && length - at >= wire::kHeaderSize) {
            const uint8_t* message = data + at;
            const wire::BinaryMessageHeader header = wire::decodeHeader(message);
            if (!plausible(header, message)) {
                framingLost_ = true;
                faults_.add("framing lost at byte " + std::to_string(offset_ + at) + ": header type " +
                            std::to_string(header.type) + ", length " + std::to_string(header.totalLength));
                break;
            }
            if (length - at < header.totalLength) break;
            check(message, header, offset_ + at, take);
            at += header.totalLength;
        }
        offset_ += at;
        return at;
    }

    bool framingLost() const { return framingLost_; }
    const StreamFault& faults() const { return faults_; }

private:
    static bool plausible(const wire::BinaryMessageHeader& header, const uint8_t* message) {
        const bool known = header.type >= wire::MSG_HELLO && header.type <= wire::MSG_SET_BYTES_ALT;
        return known && header.totalLength >= wire::kHeaderSize && header.totalLength <= kLongestMessage &&
               le::get16(message + wire::kReserved0At) == 0 && le::get16(message + wire::kReserved1At) == 0;
    }

    template <class Take>
    void check(const uint8_t* message, const wire::BinaryMessageHeader& header, uint64_t offset, Take& take) {
        const std::string where = " at byte " + std::to_string(offset);
        if (header.type == wire::MSG_ERROR_REPLY) {
            // A subscription that failed: the stream never comes.
            const uint32_t code = header.totalLength >= wire::kErrorReplySize ? le::get16(message + wire::kErrorCodeAt) : 0;
            faults_.add("error reply " + std::to_string(code) + " to request " + std::to_string(header.sequenceId) +
                        where);
            return;
        }
        if (header.type != wire::MSG_VALUE_EVENT) return;
        wire::ValueEventView event;
        if (!wire::decodeValueEvent(message, header.totalLength, event)) {
            faults_.add("value event that does not decode" + where);
            return;
        }
        const std::string path(event.path.text, event.path.length);
        if (path.find("/DEMODS/") == std::string::npos) return;
        if (event.dataType != wire::EVENT_DEMODSAMPLE || event.count == 0 ||
            uint64_t(event.count) * wire::kDemodSampleSize != event.dataLength) {
            faults_.add(path + ": " + std::to_string(event.count) + " samples of type " +
                        std::to_string(event.dataType) + " in " + std::to_string(event.dataLength) + " bytes" + where);
            return;
        }
        if (steps_) {
            for (uint32_t i = 0; i < event.count; ++i) {
                std::string why;
                if (!steps_->add(path, le::get64(event.data + std::size_t(i) * wire::kDemodSampleSize), why)) {
                    faults_.add(why + " (sample " + std::to_string(i) + " of " + std::to_string(event.count) + where +
                                ")");
                    return;
                }
            }
        }
        take(Samples{path, event.data, event.count});
    }

    SampleStepCheck* steps_;
    bool framingLost_ = false;
    uint64_t offset_ = 0;  // stream bytes before the current feed call
    StreamFault faults_;
};

// One whole text line of a demodulator sample, without its "\r\n", as the
// server writes it: "TS=<seconds>, X=<number>, Y=<number>, F=<number>,
// Phi=<number>", each number with its fixed count of fraction digits, so
// that a line cut short anywhere is seen. `seconds`: the text of its time.
inline bool isTextSampleLine(const char* begin, const char* end, std::string& seconds) {
    struct Field {
        const char* label;
        std::size_t fractionDigits;
    };
    static const Field kFields[] = {{"TS=", 9}, {", X=", 10}, {", Y=", 10}, {", F=", 5}, {", Phi=", 5}};
    const char* at = begin;
    for (const Field& field : kFields) {
        const std::size_t n = std::strlen(field.label);
        if (std::size_t(end - at) < n || std::memcmp(at, field.label, n) != 0) return false;
        at += n;
        const char* number = at;
        if (at < end && *at == '-') ++at;
        const char* digits = at;
        while (at < end && *at >= '0' && *at <= '9') ++at;
        bool whole = at > digits && at < end && *at == '.';
        if (whole) {
            const char* fraction = ++at;
            while (at < end && *at >= '0' && *at <= '9') ++at;
            whole = std::size_t(at - fraction) == field.fractionDigits;
        } else {
            // The server writes these three words for doubles without a value.
            for (const char* word : {"nan", "inf"}) {
                if (std::size_t(end - digits) >= 3 && std::memcmp(digits, word, 3) == 0 && at == digits) {
                    at = digits + 3;
                    whole = true;
                }
            }
        }
        if (!whole) return false;
        if (field.label == kFields[0].label) seconds.assign(number, at);
    }
    return at == end;
}

}  // namespace test
}  // namespace tarnix
