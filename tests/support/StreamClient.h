#pragma once
// A client of qvServer subscribed to demodulator sample streams, binary or
// text, that counts what reaches it with the test-stream tally on a thread of
// its own.
#include "platform/endian/ByteOrder.h"
#include "wire/BinaryWire.h"
#include "support/DemodRateTally.h"
#include "support/DemodTestStream.h"

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
        int64_t message = 0;  // demodulator 0's last message
    };

    StreamClient(Protocol protocol, uint32_t payloadBytes) : protocol_(protocol), tally_(payloadBytes) {
        if (protocol_ == Protocol::text) text_ = std::make_unique<test::DemodTestStreamTextReader>(tally_);
    }
    // Counts samples that the instrument makes at a set rate, one step of
    // `stepTicks` apart (binary only).
    StreamClient(uint64_t stepTicks)
        : protocol_(Protocol::binary), tally_(0), rateTally_(std::make_unique<test::DemodRateTally>(stepTicks)) {}
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
        if (rateTally_) {
            c.received = rateTally_->received();
            c.lost = rateTally_->lost();
            c.unexpected = rateTally_->unexpected();
            return c;
        }
        c.received = tally_.received();
        c.lost = tally_.lost();
        c.unexpected = tally_.unexpected() + (text_ ? text_->otherLines() : 0);
        c.message = tally_.stream(0).message();
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
            if (text_) {
                text_->feed(reinterpret_cast<const char*>(buffer.data()), used);
                used = 0;
                continue;
            }
            const std::size_t consumed = binaryMessages(buffer.data(), used);
            std::memmove(buffer.data(), buffer.data() + consumed, used - consumed);
            used -= consumed;
        }
    }

    // Counts the whole messages at the start of data; returns their bytes.
    std::size_t binaryMessages(const uint8_t* data, std::size_t length) {
        std::size_t at = 0;
        while (length - at >= wire::kHeaderSize) {
            const wire::BinaryMessageHeader header = wire::decodeHeader(data + at);
            if (header.totalLength < wire::kHeaderSize) return length;  // lost the framing: give up on the rest
            if (length - at < header.totalLength) break;
            wire::ValueEventView event;
            if (wire::decodeValueEvent(data + at, header.totalLength, event) &&
                event.dataType == wire::EVENT_DEMODSAMPLE &&
                uint64_t(event.count) * wire::kDemodSampleSize <= event.dataLength) {
                const int demod = test::DemodTestStreamTally::demodOfPath(event.path.text, event.path.length);
                if (rateTally_)
                    rateTally_->addBlock(demod, event.data, event.count);
                else
                    tally_.addBlock(demod, event.data, event.count);
            }
            at += header.totalLength;
        }
        return at;
    }

    const Protocol protocol_;
    int fd_ = -1;
    std::string pending_;  // received before the counting began
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    test::DemodTestStreamTally tally_;
    std::unique_ptr<test::DemodTestStreamTextReader> text_;
    std::unique_ptr<test::DemodRateTally> rateTally_;
};

}  // namespace test
}  // namespace tarnix
