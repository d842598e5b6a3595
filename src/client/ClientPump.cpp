#include <cstring>

#include "ClientHandle.h"
#include "wire/BinaryWire.h"

namespace tarnix {
namespace client {

namespace {

uint16_t takeSequenceId(QvHandle& handle) {
    uint16_t id = handle.nextSequenceId;
    handle.nextSequenceId = id == 0xFFFF ? 1 : uint16_t(id + 1);
    return id;
}

// Copies one whole message into the reply buffer. A buffer that cannot grow
// leaves the handle without one, so every later call refuses it.
QV_STATUS copyToReply(QvHandle& handle, const uint8_t* message, uint32_t length) {
    if (handle.reply.reserve(length) != QV_NO_ERROR) return QV_BUFFER_TOO_SMALL;
    std::memcpy(handle.reply.data(), message, length);
    handle.replyLength = length;
    handle.replyArrived = true;
    return QV_NO_ERROR;
}

// The header at the window start announces a length no message can have.
bool frameLengthInvalid(uint32_t totalLength) {
    return totalLength < wire::kHeaderSize || totalLength > MessageRing::kWindowSize;
}

// True when the window already holds a whole message (or a header that must
// be refused), so there is work without waiting on the socket.
bool windowHasWork(const MessageRing& ring) {
    if (ring.windowFill() < wire::kHeaderSize) return false;
    uint32_t total = wire::decodeHeader(ring.windowBytes()).totalLength;
    return frameLengthInvalid(total) || ring.windowFill() >= total;
}

QV_STATUS spillParked(QvHandle& handle, uint16_t awaitedId, QV_STATUS full, QV_STATUS result);

// Cuts the complete messages at the window start; `result` is what the pump
// returns when splitting ends without a failure of its own.
QV_STATUS splitWindow(QvHandle& handle, uint16_t awaitedId, QV_STATUS result) {
    MessageRing& ring = handle.ring;
    while (ring.windowFill() >= wire::kHeaderSize) {
        const wire::BinaryMessageHeader header = wire::decodeHeader(ring.windowBytes());
        if (frameLengthInvalid(header.totalLength)) {
            // The stream cannot be framed any more.
            ClientCloseSocket(handle);
            return QV_CONNECTION_INVALID;
        }
        if (ring.windowFill() < header.totalLength) return result;
        if (header.sequenceId != wire::kUnsolicitedId) {
            if (header.sequenceId == awaitedId) {
                QV_STATUS st = copyToReply(handle, ring.windowBytes(), header.totalLength);
                ring.consumeFront(header.totalLength);
                return st != QV_NO_ERROR ? st : result;
            }
            ring.consumeFront(header.totalLength);  // a stale reply nobody waits for
            continue;
        }
        QV_STATUS st = ring.commitFront(header.totalLength);
        if (st != QV_NO_ERROR) {
            // The queue is full. A reply awaited may be among the bytes
            // behind the event: they go on beside the queue.
            if (awaitedId == wire::kUnsolicitedId) return st;
            return spillParked(handle, awaitedId, st, result);
        }
    }
    return result;
}

// Cuts the complete messages at the start of the spill buffer: the awaited
// reply is taken, other replies and every event are dropped.
QV_STATUS splitSpill(QvHandle& handle, uint16_t awaitedId, QV_STATUS full, QV_STATUS result) {
    uint32_t at = 0;
    QV_STATUS outcome = result;
    bool done = false;
    while (!done && handle.spillFill - at >= wire::kHeaderSize) {
        const uint8_t* message = handle.spill.data() + at;
        const wire::BinaryMessageHeader header = wire::decodeHeader(message);
        if (frameLengthInvalid(header.totalLength)) {
            ClientCloseSocket(handle);
            return QV_CONNECTION_INVALID;
        }
        if (handle.spillFill - at < header.totalLength) break;
        if (header.sequenceId == awaitedId && awaitedId != wire::kUnsolicitedId) {
            const QV_STATUS st = copyToReply(handle, message, header.totalLength);
            if (st != QV_NO_ERROR) outcome = st;
            done = true;
        } else if (header.sequenceId == wire::kUnsolicitedId) {
            handle.dropStatus = full;
        }
        at += header.totalLength;
    }
    std::memmove(handle.spill.data(), handle.spill.data() + at, handle.spillFill - at);
    handle.spillFill -= at;
    return outcome;
}

// Moves the bytes parked in the full ring to the spill buffer and splits them.
QV_STATUS spillParked(QvHandle& handle, uint16_t awaitedId, QV_STATUS full, QV_STATUS result) {
    MessageRing& ring = handle.ring;
    if (handle.spill.size() < MessageRing::kWindowSize) handle.spill.resize(MessageRing::kWindowSize);
    const uint32_t parked = ring.windowFill();
    std::memcpy(handle.spill.data() + handle.spillFill, ring.windowBytes(), parked);
    handle.spillFill += parked;
    ring.dropWindow();
    return splitSpill(handle, awaitedId, full, result);
}

// A pump while the spill buffer holds bytes, or while the queue is full and
// a reply is awaited.
QV_STATUS pumpSpill(QvHandle& handle, int32_t timeoutMs, uint16_t awaitedId, QV_STATUS full) {
    if (handle.spill.size() < MessageRing::kWindowSize) handle.spill.resize(MessageRing::kWindowSize);
    QV_STATUS result = QV_NO_ERROR;
    uint32_t received = MessageRing::kWindowSize - handle.spillFill;
    QV_STATUS st = ClientReceive(handle, handle.spill.data() + handle.spillFill, received, timeoutMs);
    if (st == QV_COMMAND_TIMEOUT) {
        result = st;
    } else if (st != QV_NO_ERROR) {
        handle.spillFill = 0;
        return st;
    }
    handle.spillFill += received;
    return splitSpill(handle, awaitedId, full, result);
}

}  // namespace

std::vector<uint8_t> newMessage(uint32_t bodySize) { return std::vector<uint8_t>(wire::kHeaderSize + bodySize, 0); }

QV_STATUS ClientSendMessage(QvHandle& handle, uint16_t type, std::vector<uint8_t>& message, uint16_t* sequenceId) {
    if (handle.socket == detail::kNoSocket) return QV_CONNECTION_INVALID;
    uint16_t id = wire::kUnsolicitedId;
    if (sequenceId != nullptr) {
        id = takeSequenceId(handle);
        *sequenceId = id;
    }
    wire::encodeHeader(message.data(), type, uint32_t(message.size()), id);
    if (!detail::sendAll(handle.socket, message.data(), uint32_t(message.size()))) {
        ClientCloseSocket(handle);
        return QV_CONNECTION_INVALID;
    }
    return QV_NO_ERROR;
}

QV_STATUS ClientReceive(QvHandle& handle, uint8_t* buffer, uint32_t& length, int32_t timeoutMs) {
    if (handle.socket == detail::kNoSocket) return QV_CONNECTION_INVALID;
    const uint32_t room = length;
    length = 0;
    switch (detail::waitReadable(handle.socket, timeoutMs)) {
        case detail::WaitResult::Timeout:
            return QV_COMMAND_TIMEOUT;
        case detail::WaitResult::Failed:
            ClientCloseSocket(handle);
            return QV_CONNECTION_INVALID;
        case detail::WaitResult::NotReadable:
            return QV_NO_ERROR;
        case detail::WaitResult::Readable:
            break;
    }
    long n = detail::receiveSome(handle.socket, buffer, room);
    if (n <= 0) {
        ClientCloseSocket(handle);
        return QV_CONNECTION_INVALID;
    }
    length = uint32_t(n);
    return QV_NO_ERROR;
}

QV_STATUS ClientPumpMessages(QvHandle& handle, int32_t timeoutMs, uint16_t awaitedId) {
    if (handle.socket == detail::kNoSocket) return QV_CONNECTION_INVALID;
    MessageRing& ring = handle.ring;
    QV_STATUS st = ring.openWindow();
    if (handle.spillFill != 0) {
        // The start of a message waits beside the queue; it goes into the
        // queue once that has room for it, else the pump goes on beside it.
        if (st == QV_NO_ERROR && ring.windowRoom() >= handle.spillFill) {
            std::memcpy(ring.windowFreeSpace(), handle.spill.data(), handle.spillFill);
            ring.addReceived(handle.spillFill);
            handle.spillFill = 0;
        } else {
            return pumpSpill(handle, timeoutMs, awaitedId, st != QV_NO_ERROR ? st : QV_STATUS(QV_OVERFLOW));
        }
    } else if (st != QV_NO_ERROR) {
        if (awaitedId == wire::kUnsolicitedId) return st;
        return pumpSpill(handle, timeoutMs, awaitedId, st);
    }
    QV_STATUS result = QV_NO_ERROR;
    // Bytes left from an earlier receive may already hold whole messages;
    // waiting on the socket first could block on data that is already here.
    if (!windowHasWork(ring)) {
        uint32_t received = ring.windowRoom();
        st = ClientReceive(handle, ring.windowFreeSpace(), received, timeoutMs);
        if (st == QV_COMMAND_TIMEOUT) {
            result = st;
        } else if (st != QV_NO_ERROR) {
            return st;
        }
        ring.addReceived(received);
    }
    return splitWindow(handle, awaitedId, result);
}

QV_STATUS ClientTakeDropStatus(QvHandle& handle) {
    const QV_STATUS status = handle.dropStatus;
    handle.dropStatus = QV_NO_ERROR;
    return status;
}

QV_STATUS ClientWaitMessage(QvHandle& handle, uint16_t sequenceId, int32_t timeoutMs) {
    handle.replyArrived = false;
    handle.replyLength = 0;
    for (bool firstPump = true;; firstPump = false) {
        if (sequenceId != wire::kUnsolicitedId) {
            if (handle.replyArrived) return QV_NO_ERROR;
        } else if (handle.ring.queued() > 0) {
            uint32_t length = 0;
            const uint8_t* event = handle.ring.oldest(length);
            QV_STATUS st = copyToReply(handle, event, length);
            if (st != QV_NO_ERROR) return st;
            handle.ring.popOldest();
            return QV_NO_ERROR;
        }
        // The first pump only collects what is already there.
        QV_STATUS st = ClientPumpMessages(handle, firstPump ? 0 : timeoutMs, sequenceId);
        if (st != QV_NO_ERROR && !(firstPump && st == QV_COMMAND_TIMEOUT)) return st;
    }
}

}  // namespace client
}  // namespace tarnix
