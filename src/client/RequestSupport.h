#pragma once
#include <cstdint>

#include "ClientHandle.h"
#include "wire/BinaryWire.h"

// What every request export shares: argument checks, sending a request that
// names nodes, waiting for its reply and collecting the value events that
// follow it.
namespace tarnix {
namespace client {

constexpr uint32_t kMaxPathLength = QV_MAX_PATH_LENGTH;

// One answering value event kept by a read or write request.
struct CollectedValue {
    static constexpr uint32_t kPathSize = 260;
    static constexpr uint32_t kDataSize = 64;

    uint32_t valueType = 0;
    char path[kPathSize] = {};
    uint8_t data[kDataSize] = {};
};

// A path argument as it goes on the wire.
struct PathArgument {
    const char* text = nullptr;
    uint16_t length = 0;
};

// The checks before a request that names nodes: an open socket, then a path
// of at most kMaxPathLength bytes (a missing path counts as unusable).
// The handle itself must already be valid.
QV_STATUS checkRequest(const QvHandle& handle, const char* path, PathArgument& out);

// Sends a request whose body is the path field followed by `extraSize`
// bytes that `fillExtra` writes; reports the request's sequence id.
template <class FillExtra>
QV_STATUS sendPathRequest(QvHandle& handle, uint16_t type, const PathArgument& path, uint32_t extraSize,
                          FillExtra&& fillExtra, uint16_t& sequenceId);

// checkRequest, then sendPathRequest.
template <class FillExtra>
QV_STATUS startRequest(QvHandle& handle, uint16_t type, const char* path, uint32_t extraSize, FillExtra&& fillExtra,
                       uint16_t& sequenceId);

// The same for a body that is the path alone.
QV_STATUS startRequest(QvHandle& handle, uint16_t type, const char* path, uint16_t& sequenceId);

// The status an unexpected reply stands for: an error reply by its code
// (1 failed in the server, 2 not found, others internal), any other type
// QV_COMMAND_INTERNAL.
QV_STATUS ClientErrorReplyStatus(const QvHandle& handle);

// Waits for the reply with the id and checks its type; a reply of another
// type is mapped by ClientErrorReplyStatus.
QV_STATUS awaitReply(QvHandle& handle, uint16_t sequenceId, uint16_t expectedType, int32_t timeoutMs);

// The node count of a get or set reply in handle.reply; false when the reply
// is too short to hold one.
bool replyNodeCount(const QvHandle& handle, uint32_t& count);

// Waits for the reply of the expected type, then for as many messages with
// the id as it counts nodes, keeping the first value event of type a or b
// (a = b = 0: any type) with count 1 and whole data. When none was kept: the
// status of the first error reply among them, else QV_VALUE_NOT_FOUND.
QV_STATUS ClientCollectEvents(QvHandle& handle, uint16_t expectedReplyType, uint16_t sequenceId,
                              CollectedValue& value, uint16_t typeA, uint16_t typeB);

// Truncation toward zero that saturates at the int64 limits; NaN gives 0.
int64_t saturatingTruncate(double value);

// ----------------------------------------------------------------------------

template <class FillExtra>
QV_STATUS sendPathRequest(QvHandle& handle, uint16_t type, const PathArgument& path, uint32_t extraSize,
                          FillExtra&& fillExtra, uint16_t& sequenceId) {
    std::vector<uint8_t> message = newMessage(wire::pathFieldSize(path.length) + extraSize);
    uint8_t* body = message.data() + wire::kHeaderSize;
    uint32_t at = wire::encodePathField(body, path.text, path.length);
    fillExtra(body + at);
    return ClientSendMessage(handle, type, message, &sequenceId);
}

template <class FillExtra>
QV_STATUS startRequest(QvHandle& handle, uint16_t type, const char* path, uint32_t extraSize, FillExtra&& fillExtra,
                       uint16_t& sequenceId) {
    PathArgument p;
    QV_STATUS st = checkRequest(handle, path, p);
    if (st != QV_NO_ERROR) return st;
    return sendPathRequest(handle, type, p, extraSize, fillExtra, sequenceId);
}

}  // namespace client
}  // namespace tarnix
