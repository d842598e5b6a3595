#pragma once
// A client of qvServer subscribed to demodulator sample streams, binary or
// text, that checks and counts what reaches it on a thread of its own: every
// binary message framed and as long as its count says, every text line a
// path or a whole sample line, and with a set rate every sample one step (or
// whole steps: lost ones) after the one before of its node. What breaks
// these counts as broken, with the first fault in words; the client never
// skips bytes, and stops reading once the binary framing is lost.
#include "platform/endian/ByteOrder.h"
#include "wire/BinaryWire.h"
#include "support/DemodTestStream.h"
#include "support/StreamCheck.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarnix {
namespace test {

class StreamClient {
public:
    enum class Protocol { binary, text };

    struct Counts {
        uint64_t received = 0;
        uint64_t lost = 0;
        uint64_t unexpected = 0;
        uint64_t broken = 0;  // broken messages or lines; the binary framing lost counts once
        std::string fault;    // the first of them
        int64_t message = 0;  // demodulator 0's last message
        // With a set rate: the nodes, the samples the instrument made over
        // the instrument time received, and the times all and any reached.
        uint64_t nodes = 0;
        uint64_t made = 0;
        uint64_t reachedByAll = 0;
        uint64_t reachedByAny = 0;
    };

    // Counts lq3sim's test stream of `payloadBytes` bytes per message.
    StreamClient(Protocol protocol, uint32_t payloadBytes)
        : protocol_(protocol), tally_(payloadBytes), binary_(nullptr) {
        if (protocol_ == Protocol::text) text_ = std::make_unique<test::DemodTestStreamTextReader>(tally_);
    }
    // Counts samples that the instrument makes at a set rate, one step of
    // `stepTicks` apart. Times read back from text may be a tick off.
    explicit StreamClient(uint64_t stepTicks, Protocol protocol = Protocol::binary)
        : protocol_(protocol),
          tally_(0),
          steps_(std::make_unique<test::SampleStepCheck>(stepTicks, protocol == Protocol::text ? 2 : 0)),
          binary_(steps_.get()) {}
    ~StreamClient() {
        stop();
        if (fd_ >= 0) ::close(fd_);
    }
    StreamClient(const StreamClient&) = delete;
    StreamClient& operator=(const StreamClient&) = delete;

    // Connects, subscribes to `path` and starts counting; false (with a reason)
    // when any step fails within its time.
    bool start(uint16_t port, const std::string& path, std::string& why) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return fail(why, "connect");
        if (!readUntil("\r\n")) return fail(why, "no greeting");
        pending_.clear();
        if (protocol_ == Protocol::text) {
            if (!send("subs " + path + "\n")) return fail(why, "subscribe");
        } else {
            if (!send("proto bin\n") || !readBytes(wire::kHelloSize)) return fail(why, "no binary hello");
            pending_.erase(0, wire::kHelloSize);
            std::string request(wire::kHeaderSize + wire::pathFieldSize(uint16_t(path.size())), '\0');
            auto* p = reinterpret_cast<uint8_t*>(&request[0]);
            wire::encodeHeader(p, wire::MSG_SUBSCRIBE, uint32_t(request.size()), 1);
            wire::encodePathField(p + wire::kHeaderSize, path.data(), uint16_t(path.size()));
            if (!send(request)) return fail(why, "subscribe");
        }
        thread_ = std::thread([this] { run(); });
        return true;
    }

    void stop() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
    }

    Counts counts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        Counts c;
        const test::StreamFault& faults = protocol_ == Protocol::text ? textFaults_ : binary_.faults();
        c.broken = faults.count;
        c.fault = faults.first;
        if (steps_) {
            c.received = steps_->received();
            c.lost = steps_->lost();
            c.nodes = steps_->nodes();
            c.made = steps_->made();
            c.reachedByAll = steps_->reachedByAll();
            c.reachedByAny = steps_->reachedByAny();
            return c;
        }
        c.received = tally_.received();
        c.lost = tally_.lost();
        c.unexpected = tally_.unexpected() + (text_ ? text_->otherLines() : 0);
        c.message = tally_.layout().demods() ? tally_.stream(0).message() : 0;
        return c;
    }

private:
    static bool fail(std::string& why, const char* what) {
        why = what;
        return false;
    }

    bool send(const std::string& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }

    // Receives into pending_ for at most 5 s until `done` holds.
    template <class Done>
    bool receiveUntil(Done done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) return false;
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            pending_.append(chunk, std::size_t(n));
        }
        return true;
    }
    bool readUntil(const std::string& text) {
        return receiveUntil([&] { return pending_.find(text) != std::string::npos; });
    }
    bool readBytes(std::size_t n) {
        return receiveUntil([&] { return pending_.size() >= n; });
    }

    void run() {
        std::vector<uint8_t> buffer(std::max<std::size_t>(pending_.size(), 4 << 20));
        std::memcpy(buffer.data(), pending_.data(), pending_.size());
        std::size_t used = pending_.size();
        while (!stopping_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            if (used == buffer.size()) buffer.resize(buffer.size() * 2);
            const ssize_t n = ::recv(fd_, buffer.data() + used, buffer.size() - used, 0);
            if (n <= 0) break;
            used += std::size_t(n);
            std::lock_guard<std::mutex> lock(mutex_);
            const std::size_t consumed = protocol_ == Protocol::text ? textLines(buffer.data(), used)
                                                                     : binaryMessages(buffer.data(), used);
            std::memmove(buffer.data(), buffer.data() + consumed, used - consumed);
            used -= consumed;
            if (binary_.framingLost()) break;
        }
    }

    // Checks and counts the whole messages at the start of data; returns their bytes.
    std::size_t binaryMessages(const uint8_t* data, std::size_t length) {
        return binary_.feed(data, length, [this](const test::BinaryStreamCheck::Samples& samples) {
            if (!steps_)
                tally_.addBlock(test::DemodTestStreamTally::demodOfPath(samples.path.data(), samples.path.size()),
                                samples.data, samples.count);
        });
    }

    // Checks and counts the whole lines at the start of data; returns their bytes.
    std::size_t textLines(const uint8_t* bytes, std::size_t length) {
        const char* data = reinterpret_cast<const char*>(bytes);
        std::size_t at = 0;
        for (const char* end; (end = static_cast<const char*>(std::memchr(data + at, '\n', length - at)));) {
            const std::size_t next = std::size_t(end - data) + 1;
            textLine(data + at, next - at);
            at = next;
        }
        return at;
    }

    void textLine(const char* line, std::size_t length) {
        const std::string where = " at byte " + std::to_string(textOffset_);
        textOffset_ += length;
        std::string seconds;
        const char* end = line + length - 1;
        const bool ended = end > line && end[-1] == '\r';
        if (ended) --end;
        const std::string text(line, std::size_t(end - line));
        if (ended && isTextSampleLine(line, end, seconds)) {
            if (node_.empty()) {
                textFaults_.add("a sample line before any path line" + where);
                return;
            }
            uint64_t ticks = 0;
            std::string why;
            if (steps_ && (!test::ticksOfSecondsText(seconds.data(), seconds.data() + seconds.size(), ticks) ||
                           !steps_->add(node_, ticks, why))) {
                textFaults_.add(why + where);
                return;
            }
        } else if (ended && isPathLine(text)) {
            node_ = text.substr(0, text.size() - 1);
        } else {
            textFaults_.add("not a whole line of the stream: \"" + text.substr(0, 120) + "\"" + where);
            return;
        }
        if (text_) text_->feed(line, length);
    }

    static bool isPathLine(const std::string& text) {
        const std::string tail = "/SAMPLE:";
        return text.size() > tail.size() && text.compare(0, 4, "/DEV") == 0 &&
               text.find("/DEMODS/") != std::string::npos &&
               text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    }

    const Protocol protocol_;
    int fd_ = -1;
    std::string pending_;  // received before the counting began
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    test::DemodTestStreamTally tally_;
    std::unique_ptr<test::DemodTestStreamTextReader> text_;
    std::unique_ptr<test::SampleStepCheck> steps_;
    test::BinaryStreamCheck binary_;
    test::StreamFault textFaults_;
    std::string node_;  // the text stream's current path
    uint64_t textOffset_ = 0;
};

}  // namespace test
}  // namespace tarnix
