#include "platform/usb/SocketDevice.h"

#include "platform/endian/ByteOrder.h"
#include "platform/usb/DriverCodes.h"
#include "platform/usb/WireProtocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnix {
namespace platform {
namespace usb {
namespace {

// A time-out given in units of 100 ns, as milliseconds.
uint32_t timeoutMillis(const uint8_t* input, uint32_t inputLength) {
    if (inputLength < 4) return 0;
    return le::get32(input) / 10000u;
}

// Receives what has arrived, at most `length` bytes, without waiting: the
// count, 0 when nothing is there yet, -1 at the end of the stream or on an error.
long receiveNow(int fd, void* data, std::size_t length) {
    for (;;) {
        const ssize_t got = ::recv(fd, data, length, MSG_DONTWAIT);
        if (got > 0) return long(got);
        if (got == 0) return -1;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

// Whether a frame header is one that an instrument sends: an answer whose
// reserved bytes are 0 and whose length fits its type.
bool isAnswerHeader(const uint8_t* bytes, const wire::FrameHeader& frame) {
    if (bytes[1] != 0 || bytes[2] != 0 || bytes[3] != 0 || frame.length < 4) return false;
    switch (frame.type) {
    case wire::kControlDone:
        return frame.length <= 4 + kControlAnswerSize;
    case wire::kOutDone:
        return frame.length <= 8;
    case wire::kInDone:
        return frame.length <= wire::kMaxPayload;
    default:
        return false;
    }
}

}  // namespace

SocketDevice::SocketDevice(int fd) : fd_(fd), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    // A peer that stops reading must not block a sender for ever: the
    // connection then counts as broken. Receiving never waits (see
    // receiveAvailable).
    timeval limit{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    receiver_ = std::thread([this] { receiveLoop(); });
}

SocketDevice::~SocketDevice() {
    ::shutdown(fd_, SHUT_RDWR);
    wake();
    receiver_.join();
    completeAll(kErrorOperationAborted);
    ::close(fd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void SocketDevice::wake() {
    if (wakeFd_ < 0) return;
    const uint64_t one = 1;
    ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
    (void)ignored;
}

uint32_t SocketDevice::resultOf(uint32_t status, const Operation& operation) {
    if (status == kErrorOperationAborted && operation.timedOut) return kErrorSemaphoreTimeout;
    return status;
}

IoResult SocketDevice::start(Kind kind, uint32_t timeoutMs, uint8_t* destination, uint32_t capacity,
                             const std::shared_ptr<Overlapped>& overlapped, uint8_t frameType, const void* prefix,
                             std::size_t prefixLength, const void* body, std::size_t bodyLength) {
    const std::size_t payloadLength = prefixLength + bodyLength;
    if (payloadLength > wire::kMaxPayload) return IoResult{kErrorInvalidParameter, 0};
    uint32_t tag;
    bool mustWake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!connected_) return IoResult{kErrorDeviceNotConnected, 0};
        tag = nextTag_++;
        if (nextTag_ == 0) nextTag_ = 1;
        Operation operation{kind, overlapped, destination, capacity, timeoutMs != 0, Clock::time_point(), false,
                            false, Clock::time_point()};
        if (operation.hasDeadline) {
            operation.deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            if (operation.deadline < wakeAt_) {
                wakeAt_ = operation.deadline;
                mustWake = true;
            }
        }
        operations_.emplace(tag, operation);
    }
    if (mustWake) wake();

    uint8_t header[wire::kHeaderSize];
    wire::encodeHeader(header, wire::FrameHeader{frameType, tag, static_cast<uint32_t>(payloadLength)});
    bool sent;
    {
        std::lock_guard<std::mutex> lock(sendMutex_);
        sent = wire::sendAll(fd_, header, sizeof header, prefix, prefixLength, body, bodyLength);
    }
    if (!sent) {
        std::lock_guard<std::mutex> lock(mutex_);
        // Unless the receiver has completed it already, the operation never started.
        if (operations_.erase(tag) != 0) return IoResult{kErrorDeviceNotConnected, 0};
    }
    return IoResult{kErrorIoPending, 0};
}

IoResult SocketDevice::deviceIoControl(uint32_t code, const uint8_t* input, uint32_t inputLength, uint8_t* output,
                                       uint32_t outputLength, const std::shared_ptr<Overlapped>& overlapped) {
    if (!isControlCode(code)) return IoResult{kErrorInvalidParameter, 0};
    const uint32_t function = controlFunction(code);
    if (function == kFnSetReadTimeout || function == kFnSetWriteTimeout) {
        // Pipe time-outs are the driver's own settings; they never reach the device.
        (function == kFnSetReadTimeout ? readTimeoutMs_ : writeTimeoutMs_)
            .store(timeoutMillis(input, inputLength));
        const uint32_t answered = std::min(outputLength, kControlAnswerSize);
        if (output) std::memset(output, 0, answered);
        return IoResult{kErrorSuccess, answered};
    }
    uint8_t codeBytes[4];
    le::put32(codeBytes, code);
    return start(Kind::control, kControlTimeoutMs, output, output ? outputLength : 0, overlapped, wire::kControl,
                 codeBytes, sizeof codeBytes, input, input ? inputLength : 0);
}

IoResult SocketDevice::readFile(uint8_t* data, uint32_t length, const std::shared_ptr<Overlapped>& overlapped) {
    uint8_t wanted[4];
    le::put32(wanted, length);
    return start(Kind::in, readTimeoutMs_.load(), data, length, overlapped, wire::kIn, wanted, sizeof wanted,
                 nullptr, 0);
}

IoResult SocketDevice::writeFile(const uint8_t* data, uint32_t length,
                                 const std::shared_ptr<Overlapped>& overlapped) {
    return start(Kind::out, writeTimeoutMs_.load(), nullptr, 0, overlapped, wire::kOut, data, length, nullptr, 0);
}

bool SocketDevice::markCancelled(Operation& operation, Clock::time_point now) {
    operation.cancelSent = true;
    operation.cancelDeadline = now + std::chrono::milliseconds(kCancelGraceMs);
    if (operation.cancelDeadline >= wakeAt_) return false;
    wakeAt_ = operation.cancelDeadline;
    return true;
}

uint32_t SocketDevice::cancelIo() {
    std::vector<uint32_t> tags;
    bool mustWake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!connected_) return kErrorSuccess;
        const Clock::time_point now = Clock::now();
        for (auto& entry : operations_) {
            Operation& operation = entry.second;
            if (operation.cancelSent) continue;
            // An operation already past its time-out ends as timed out, whoever
            // noticed first.
            operation.timedOut = operation.hasDeadline && operation.deadline <= now;
            mustWake = markCancelled(operation, now) || mustWake;
            tags.push_back(entry.first);
        }
    }
    if (mustWake) wake();
    sendCancels(tags);
    return kErrorSuccess;
}

void SocketDevice::sendCancels(const std::vector<uint32_t>& tags) {
    std::lock_guard<std::mutex> lock(sendMutex_);
    for (uint32_t tag : tags) {
        uint8_t header[wire::kHeaderSize];
        wire::encodeHeader(header, wire::FrameHeader{wire::kCancel, tag, 0});
        if (!wire::sendAll(fd_, header, sizeof header)) return;
    }
}

void SocketDevice::completeAll(uint32_t error) {
    std::map<uint32_t, Operation> ended;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connected_ = false;
        ended.swap(operations_);
    }
    for (auto& entry : ended) entry.second.overlapped->complete(resultOf(error, entry.second), 0);
}

void SocketDevice::receiveLoop() {
    for (;;) {
        std::vector<uint32_t> overdue;
        int waitMillis = -1;
        bool stopped = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const Clock::time_point now = Clock::now();
            Clock::time_point nearest = Clock::time_point::max();
            for (auto& entry : operations_) {
                Operation& operation = entry.second;
                if (operation.cancelSent) {
                    stopped = stopped || operation.cancelDeadline <= now;
                    nearest = std::min(nearest, operation.cancelDeadline);
                    continue;
                }
                if (!operation.hasDeadline) continue;
                if (operation.deadline <= now) {
                    operation.timedOut = true;
                    markCancelled(operation, now);
                    nearest = std::min(nearest, operation.cancelDeadline);
                    overdue.push_back(entry.first);
                } else {
                    nearest = std::min(nearest, operation.deadline);
                }
            }
            wakeAt_ = nearest;
            if (nearest != Clock::time_point::max()) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nearest - now).count();
                waitMillis = static_cast<int>(std::min<long long>(left + 1, 60000));
            }
        }
        if (stopped) {
            // Nothing more is taken from or sent to a hung instrument.
            ::shutdown(fd_, SHUT_RDWR);
            break;
        }
        if (!overdue.empty()) sendCancels(overdue);

        pollfd watched[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int ready = ::poll(watched, wakeFd_ >= 0 ? 2 : 1, waitMillis);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        if (watched[1].revents & POLLIN) {
            uint64_t count;
            ssize_t ignored = ::read(wakeFd_, &count, sizeof count);
            (void)ignored;
        }
        if (watched[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!receiveAvailable()) break;
        }
    }
    completeAll(kErrorDeviceNotConnected);
}

bool SocketDevice::receiveAvailable() {
    for (;;) {
        Incoming& in = incoming_;
        if (in.headerBytes < wire::kHeaderSize) {
            const long got = receiveNow(fd_, in.header + in.headerBytes, wire::kHeaderSize - in.headerBytes);
            if (got <= 0) return got == 0;
            in.headerBytes += std::size_t(got);
            if (in.headerBytes == wire::kHeaderSize && !receiveHeader()) return false;
        } else if (in.leadBytes < in.leadLength) {
            const long got = receiveNow(fd_, in.lead + in.leadBytes, in.leadLength - in.leadBytes);
            if (got <= 0) return got == 0;
            in.leadBytes += std::size_t(got);
            if (in.leadBytes == in.leadLength && !leadReceived()) return false;
        } else if (const std::size_t left = in.length - in.leadLength - in.dataBytes) {
            bool progress = false;
            if (!receiveData(left, progress)) return false;
            if (!progress) return true;
        } else {
            completeIncoming();
        }
    }
}

bool SocketDevice::receiveHeader() {
    Incoming& in = incoming_;
    const wire::FrameHeader frame = wire::decodeHeader(in.header);
    if (!isAnswerHeader(in.header, frame)) return false;
    in.type = frame.type;
    in.tag = frame.tag;
    in.length = frame.length;
    in.leadLength = frame.type == wire::kOutDone ? frame.length : 4;
    return true;
}

bool SocketDevice::leadReceived() {
    const Incoming& in = incoming_;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = operations_.find(in.tag);
    // An answer to nothing asked is passed over.
    if (found == operations_.end()) return true;
    const Operation& operation = found->second;
    const uint8_t expected = operation.kind == Kind::control ? wire::kControlDone
                             : operation.kind == Kind::in    ? wire::kInDone
                                                             : wire::kOutDone;
    if (in.type != expected) return false;
    // The device overran the read.
    const std::size_t room = operation.destination ? operation.capacity : 0;
    return in.type != wire::kInDone || in.length - in.leadLength <= room;
}

bool SocketDevice::receiveData(std::size_t left, bool& progress) {
    Incoming& in = incoming_;
    long got = 0;
    bool taken = false;
    {
        // The lock is held while the answer lands in the caller's memory, so
        // that the operation cannot be given up meanwhile.
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = operations_.find(in.tag);
        if (found != operations_.end() && found->second.destination && in.dataBytes < found->second.capacity) {
            const Operation& operation = found->second;
            got = receiveNow(fd_, operation.destination + in.dataBytes,
                             std::min<std::size_t>(left, operation.capacity - in.dataBytes));
            if (got > 0) in.transferred += uint32_t(got);
            taken = true;
        }
    }
    if (!taken) {
        // Beyond the caller's buffer, or for nothing asked: passed over.
        uint8_t scratch[4096];
        got = receiveNow(fd_, scratch, std::min(left, sizeof scratch));
    }
    if (got < 0) return false;
    in.dataBytes += std::size_t(got);
    progress = got > 0;
    return true;
}

void SocketDevice::completeIncoming() {
    const Incoming in = incoming_;
    incoming_ = Incoming();
    Operation operation{};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = operations_.find(in.tag);
        if (found == operations_.end()) return;
        operation = found->second;
        operations_.erase(found);
    }
    const uint32_t status = le::get32(in.lead);
    uint32_t transferred = in.transferred;
    if (in.type == wire::kOutDone) transferred = in.leadLength >= 8 ? le::get32(in.lead + 4) : 0;
    operation.overlapped->complete(resultOf(status, operation), transferred);
}

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
