#include "RequestSupport.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace tarnix {
namespace client {

namespace {

bool typeWanted(uint16_t type, uint16_t typeA, uint16_t typeB) {
    return (typeA == 0 && typeB == 0) || type == typeA || type == typeB;
}

void keepValue(const wire::ValueEventView& event, CollectedValue& value) {
    value.valueType = event.dataType;
    uint32_t pathLength = event.path.length < CollectedValue::kPathSize - 1 ? event.path.length
                                                                            : CollectedValue::kPathSize - 1;
    std::memcpy(value.path, event.path.text, pathLength);
    value.path[pathLength] = '\0';
    uint32_t dataLength = event.dataLength < CollectedValue::kDataSize ? event.dataLength : CollectedValue::kDataSize;
    std::memcpy(value.data, event.data, dataLength);
}

}  // namespace

QV_STATUS checkRequest(const QvHandle& handle, const char* path, PathArgument& out) {
    if (handle.socket == detail::kNoSocket) return QV_CONNECTION_INVALID;
    if (path == nullptr) return QV_BUFFER_TOO_SMALL;
    size_t length = ::strnlen(path, kMaxPathLength + 1);
    if (length > kMaxPathLength) return QV_BUFFER_TOO_SMALL;
    out.text = path;
    out.length = uint16_t(length);
    return QV_NO_ERROR;
}

QV_STATUS startRequest(QvHandle& handle, uint16_t type, const char* path, uint16_t& sequenceId) {
    return startRequest(handle, type, path, 0, [](uint8_t*) {}, sequenceId);
}

QV_STATUS ClientErrorReplyStatus(const QvHandle& handle) {
    const uint8_t* reply = handle.reply.data();
    if (handle.replyLength < wire::kErrorReplySize || wire::decodeHeader(reply).type != wire::MSG_ERROR_REPLY) {
        return QV_COMMAND_INTERNAL;
    }
    switch (le::get16(reply + wire::kErrorCodeAt)) {
        case wire::ERROR_COMMAND_FAILED:
            return QV_COMMAND_SERVER_FAILED;
        case wire::ERROR_NOT_FOUND:
            return QV_VALUE_NOT_FOUND;
        default:
            return QV_COMMAND_INTERNAL;
    }
}

QV_STATUS awaitReply(QvHandle& handle, uint16_t sequenceId, uint16_t expectedType, int32_t timeoutMs) {
    QV_STATUS st = ClientWaitMessage(handle, sequenceId, timeoutMs);
    if (st != QV_NO_ERROR) return st;
    if (wire::decodeHeader(handle.reply.data()).type != expectedType) return ClientErrorReplyStatus(handle);
    return QV_NO_ERROR;
}

bool replyNodeCount(const QvHandle& handle, uint32_t& count) {
    if (handle.replyLength < wire::kCountReplySize) return false;
    count = le::get32(handle.reply.data() + wire::kReplyCountAt);
    return true;
}

QV_STATUS ClientCollectEvents(QvHandle& handle, uint16_t expectedReplyType, uint16_t sequenceId,
                              CollectedValue& value, uint16_t typeA, uint16_t typeB) {
    bool kept = false;
    // Without a value, the server's own failure is the answer (a value it
    // refused), else none was found.
    QV_STATUS failure = QV_VALUE_NOT_FOUND;
    bool failed = false;
    QV_STATUS st = awaitReply(handle, sequenceId, expectedReplyType, kReplyTimeoutMs);
    if (st != QV_NO_ERROR) return st;
    uint32_t nodes = 0;
    if (!replyNodeCount(handle, nodes)) return QV_COMMAND_INTERNAL;
    for (uint32_t i = 0; i < nodes; ++i) {
        st = ClientWaitMessage(handle, sequenceId, kReplyTimeoutMs);
        if (st != QV_NO_ERROR) return st;
        if (!failed && wire::decodeHeader(handle.reply.data()).type == wire::MSG_ERROR_REPLY) {
            failure = ClientErrorReplyStatus(handle);
            failed = true;
        }
        wire::ValueEventView event;
        if (kept || !wire::decodeValueEvent(handle.reply.data(), handle.replyLength, event)) continue;
        if (event.count == 1 && typeWanted(event.dataType, typeA, typeB) &&
            wire::eventDataConsistent(event.dataType, event.count, event.data, event.dataLength)) {
            keepValue(event, value);
            kept = true;
        }
    }
    return kept ? QV_STATUS(QV_NO_ERROR) : failure;
}

int64_t saturatingTruncate(double value) {
    if (std::isnan(value)) return 0;
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (value >= kTwoTo63) return std::numeric_limits<int64_t>::max();
    if (value <= -kTwoTo63) return std::numeric_limits<int64_t>::min();
    return int64_t(value);
}

}  // namespace client
}  // namespace tarnix
