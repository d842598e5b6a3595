#pragma once
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "ClientSocket.h"
#include "GrowBuffer.h"
#include "MessageRing.h"
#include "qvAPI.h"

// The connection handle behind the API's opaque QvHandle pointer.
struct QvHandle {
    static constexpr uint32_t kMagic = 0xBEA71E7B;
    static constexpr uint32_t kReplyInitialSize = 0x20000;
    static constexpr uint32_t kReplyMaximum = 0x2000000;
    static constexpr uint32_t kReplyStep = 0x20000;

    int socket = tarnix::detail::kNoSocket;
    uint16_t nextSequenceId = 1;
    tarnix::client::MessageRing ring;

    // The one message a caller waits for (a reply, or an event taken from
    // the queue), and whether it has arrived since the wait began.
    tarnix::client::GrowBuffer reply{kReplyInitialSize, kReplyMaximum, kReplyStep};
    uint32_t replyLength = 0;
    bool replyArrived = false;

    // While the event queue is full, a request's reply is still received:
    // into this buffer (one receive window, made when first needed), where
    // replies are taken and events dropped. Bytes of a message not yet whole
    // stay here until they are, or until the queue has room for them.
    std::vector<uint8_t> spill;
    uint32_t spillFill = 0;
    // The status the full queue gave when events were dropped that way and
    // qvAPIPollData has not said so yet; 0 when none were.
    QV_STATUS dropStatus = 0;

    uint16_t serverMajor = 0;
    uint16_t serverMinor = 0;
    uint16_t serverRevision = 0;

    uint32_t magic = 0;  // kMagic once the handle is complete
};

namespace tarnix {
namespace client {

constexpr int32_t kReplyTimeoutMs = 5000;

// Not null, magic set, reply buffer present.
bool handleValid(const QvHandle* handle);

// A complete handle, or null when an allocation failed.
std::unique_ptr<QvHandle> ClientCreateHandle();

// Closes the socket (if any), gives back its count and drops the bytes of an
// unfinished message; queued events stay. Always QV_NO_ERROR.
QV_STATUS ClientCloseSocket(QvHandle& handle);

// A zeroed message of kHeaderSize + bodySize bytes; the caller fills the body.
std::vector<uint8_t> newMessage(uint32_t bodySize);

// Completes the header of `message` (type, length, sequence id) and sends it.
// With sequenceId given, the message takes the next request id and reports
// it; otherwise it goes out with id 0. A failed send closes the connection.
QV_STATUS ClientSendMessage(QvHandle& handle, uint16_t type, std::vector<uint8_t>& message, uint16_t* sequenceId);

// One wait of at most timeoutMs and at most one receive of up to `length`
// bytes; `length` becomes the count received. A failed wait or receive, and
// a closed peer, close the connection (QV_CONNECTION_INVALID).
QV_STATUS ClientReceive(QvHandle& handle, uint8_t* buffer, uint32_t& length, int32_t timeoutMs);

// One receive into the ring, then cuts complete messages: the reply with the
// awaited id goes to the reply buffer (and ends the pump), other replies are
// dropped, unsolicited messages are queued. QV_COMMAND_TIMEOUT when nothing
// arrived in time. With the queue full, a pump that awaits a reply receives
// beside it (handle.spill) and drops the events it finds, noting the loss;
// one that awaits none reports the full queue (0x4002 or 0x8010).
QV_STATUS ClientPumpMessages(QvHandle& handle, int32_t timeoutMs, uint16_t awaitedId);

// The loss noted by pumps that dropped events: its status once (0 when none),
// then the note is cleared.
QV_STATUS ClientTakeDropStatus(QvHandle& handle);

// With a non-zero id: waits for the reply with that id. With id 0: takes the
// oldest queued event. The message ends up in handle.reply.
QV_STATUS ClientWaitMessage(QvHandle& handle, uint16_t sequenceId, int32_t timeoutMs);

QV_STATUS ClientConnect(QvHandle& handle, const char* host, uint16_t port);

// Runs an export's body; a failed allocation becomes QV_ALLOC_FAILED and
// nothing else escapes to the caller.
template <class Body>
QV_STATUS guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return QV_ALLOC_FAILED;
    } catch (...) {
        return QV_COMMAND_INTERNAL;
    }
}

}  // namespace client
}  // namespace tarnix
