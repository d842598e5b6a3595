#include "server/binary/IFaceDataBinary.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/PathResolution.h"
#include "core/tree/RequestPosting.h"
#include "core/tree/Subscriptions.h"
#include "core/tree/TreeNotices.h"
#include "server/binary/BinaryListing.h"
#include "server/session/DirectAnswers.h"
#include "wire/BinaryWire.h"
#include "server/server/ServerContext.h"
#include "server/server/ServerStrings.h"

#include <boost/format.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <shared_mutex>

namespace tarnix {
namespace {

typedef SharedLock<SharedTimedMutex> StructureLock;

// A request that names nodes, with the fields its type adds after the path.
struct PathRequest {
    std::string path;
    uint32_t flags = 0;
    int64_t integer = 0;
    double number = 0.0;
    const uint8_t* bytes = nullptr;
    uint32_t byteCount = 0;
};

bool namesNodes(uint16_t type) {
    switch (type) {
        case wire::MSG_LIST_NODES:
        case wire::MSG_GET_VALUE:
        case wire::MSG_GET_VALUE_POLL:
        case wire::MSG_SET_INTEGER:
        case wire::MSG_SET_DOUBLE:
        case wire::MSG_SET_BYTES:
        case wire::MSG_SUBSCRIBE:
        case wire::MSG_UNSUBSCRIBE:
        case wire::MSG_SET_INTEGER_ALT:
        case wire::MSG_SET_DOUBLE_ALT:
        case wire::MSG_SET_BYTES_ALT:
            return true;
        default:
            return false;
    }
}

// The path as the tree sees it, ended by the first NUL like the C string it
// once was. False when it is longer than a request path may be: it is refused
// whole rather than cut to name another node.
bool requestPath(const wire::PathView& view, std::string& path) {
    const char* end = std::find(view.text, view.text + view.length, '\0');
    if (uint32_t(end - view.text) > IFaceDataBinary::kMaxRequestPath) return false;
    path.assign(view.text, end);
    return true;
}

// Reads the path and the type's further fields; false when the body is
// shorter than any of them. `pathTaken` is false for a path too long to take.
bool decodePathRequest(uint16_t type, const uint8_t* body, uint32_t bodyLength, PathRequest& request,
                       bool& pathTaken) {
    wire::PathView path;
    bool whole = false;
    switch (type) {
        case wire::MSG_LIST_NODES:
            whole = wire::decodeListNodesBody(body, bodyLength, path, request.flags);
            break;
        case wire::MSG_SET_INTEGER:
        case wire::MSG_SET_INTEGER_ALT:
            whole = wire::decodeSetIntegerBody(body, bodyLength, path, request.integer);
            break;
        case wire::MSG_SET_DOUBLE:
        case wire::MSG_SET_DOUBLE_ALT:
            whole = wire::decodeSetDoubleBody(body, bodyLength, path, request.number);
            break;
        case wire::MSG_SET_BYTES:
        case wire::MSG_SET_BYTES_ALT:
            whole = wire::decodeSetBytesBody(body, bodyLength, path, request.bytes, request.byteCount);
            break;
        default:
            whole = wire::decodePathField(body, bodyLength, path);
            break;
    }
    pathTaken = whole && requestPath(path, request.path);
    return whole;
}

}  // namespace

IFaceDataBinary::IFaceDataBinary(SessionActionsInterface& session) : IFaceDataBase(session) {
    input_.resize(wire::kHeaderSize);
}

QV_STATUS IFaceDataBinary::hello() {
    state_ = INPUT_HEADER;
    received_ = 0;
    std::array<uint8_t, wire::kHelloSize> message;
    wire::encodeHello(message.data(), wire::Hello{uint16_t(kServerVersionMajor), uint16_t(kServerVersionMinor),
                                                  uint16_t(kServerRevision)});
    write(message.data(), uint32_t(message.size()), WRITE_CLASS_TEXT);
    return QV_NO_ERROR;
}

int32_t IFaceDataBinary::input(const uint8_t* data, uint32_t length) {
    QV_STATUS first = QV_NO_ERROR;
    while (length != 0 && !refused_) {
        const uint32_t wanted = (state_ == INPUT_HEADER ? wire::kHeaderSize : totalLength_) - received_;
        const uint32_t taken = std::min(wanted, length);
        makeRoom(received_ + taken);
        std::memcpy(input_.data() + received_, data, taken);
        received_ += taken;
        data += taken;
        length -= taken;
        if (taken < wanted) break;

        if (state_ == INPUT_HEADER) {
            totalLength_ = wire::decodeHeader(input_.data()).totalLength;
            if (totalLength_ < wire::kHeaderSize || totalLength_ > kInputBufferSize) {
                refuse(totalLength_);
                return QV_CONNECTION_INVALID;
            }
            if (totalLength_ > wire::kHeaderSize) {
                state_ = INPUT_BODY;
                continue;
            }
        }
        // The message is finished before it is carried out, so that a failed
        // request is never run again and the bytes after it are the next one.
        const bool withBody = state_ == INPUT_BODY;
        state_ = INPUT_HEADER;
        received_ = 0;
        const QV_STATUS status = messageComplete();
        releaseLargeInput();
        if (status != QV_NO_ERROR) {
            QVLOG_LIMITED(logging::error)
                << boost::format(withBody ? "Error in InputBinaryMessage (w body), error code = %x."
                                          : "Error in InputBinaryMessage (w/o body), error code = %x.") %
                       status.code();
            if (first == QV_NO_ERROR) first = status;
        }
    }
    return int32_t(first.code());
}

void IFaceDataBinary::makeRoom(uint32_t needed) {
    if (input_.size() >= needed) return;
    // Doubling keeps the copies few; the message's own length caps it.
    const std::size_t doubled = std::max<std::size_t>(needed, input_.size() * 2);
    input_.resize(std::min<std::size_t>(doubled, std::max(needed, totalLength_)));
}

void IFaceDataBinary::releaseLargeInput() {
    // A session that once got a large message does not keep its room.
    if (input_.capacity() <= kKeptInputSize) return;
    std::vector<uint8_t> small(wire::kHeaderSize);
    input_.swap(small);
}

QV_STATUS IFaceDataBinary::messageComplete() {
    const wire::BinaryMessageHeader header = wire::decodeHeader(input_.data());
    return dispatch(input_.data() + wire::kHeaderSize, header.totalLength - wire::kHeaderSize, header.type,
                    header.sequenceId);
}

void IFaceDataBinary::refuse(uint32_t totalLength) {
    refused_ = true;
    QVLOG_LIMITED(logging::error) << boost::format(
                                 "Binary message with a total length of %u bytes refused (allowed: %u to %u). "
                                 "Session will be closed.") %
                                 totalLength % wire::kHeaderSize % kInputBufferSize;
    close();
}

QV_STATUS IFaceDataBinary::dispatch(const uint8_t* body, uint32_t bodyLength, uint16_t type, uint16_t sequenceId) {
    if (type == wire::MSG_UPDATE_DEVICES) return updateDevices(sequenceId);
    // Whatever the client asked, it waits for an answer with its id: a
    // request that cannot be carried out is answered as failed.
    if (!namesNodes(type)) {
        writeErrorReply(sequenceId, wire::ERROR_COMMAND_FAILED);
        return QV_NO_ERROR;
    }

    PathRequest request;
    bool pathTaken = false;
    if (!decodePathRequest(type, body, bodyLength, request, pathTaken)) {
        writeErrorReply(sequenceId, wire::ERROR_COMMAND_FAILED);
        return QV_BUFFER_TOO_SMALL;
    }
    if (!pathTaken) {
        QVLOG_LIMITED(logging::warning) << boost::format("Request path longer than %u characters refused.") %
                                               kMaxRequestPath;
        writeErrorReply(sequenceId, wire::ERROR_COMMAND_FAILED);
        return QV_BUFFER_TOO_SMALL;
    }
    if (type == wire::MSG_LIST_NODES) return list(request.path, request.flags, sequenceId);
    SessionClient* client = getClient();
    if (!client) {
        writeErrorReply(sequenceId, wire::ERROR_COMMAND_FAILED);
        return QV_COMMAND_INTERNAL;
    }

    if (type == wire::MSG_SUBSCRIBE || type == wire::MSG_UNSUBSCRIBE) {
        const bool subscribe = type == wire::MSG_SUBSCRIBE;
        QV_STATUS status = QV_NO_ERROR;
        {
            StructureLock lock(serverContext().treeRegistry().treeStructureMutex());
            NodeSet set;
            DispatcherResolvePathList(serverContext().treeRegistry(), set, std::string(), request.path);
            // A path that names nothing is not found, not an empty success.
            status = set.empty() ? QV_STATUS(QV_VALUE_NOT_FOUND)
                                 : DispatcherSubscribeNodeSet(serverContext().treeRegistry(), client,
                                                              subscribe ? 1 : 0, set);
        }
        // Answered once done, and never under a tree lock: a full output may
        // hold the write up, and must hold up this session only.
        if (status == QV_NO_ERROR)
            writeEmptyReply(subscribe ? wire::MSG_SUBSCRIBE_REPLY : wire::MSG_UNSUBSCRIBE_REPLY, sequenceId);
        else
            writeErrorReply(sequenceId,
                            status == QV_VALUE_NOT_FOUND ? wire::ERROR_NOT_FOUND : wire::ERROR_COMMAND_FAILED);
        return status == QV_VALUE_NOT_FOUND ? QV_STATUS(QV_NO_ERROR) : status;
    }

    // The targets are taken under the structure lock; the records are posted
    // after it is released, since a post may wait for room in a full queue.
    PostTargets targets;
    uint32_t count = 0;
    {
        StructureLock lock(serverContext().treeRegistry().treeStructureMutex());
        NodeSet set;
        DispatcherResolvePathList(serverContext().treeRegistry(), set, std::string(), request.path);
        count = NodeSetCountEndpoints(set);
        targets = DispatcherPostTargets(set);
    }
    const PostWaitStep waitStep = postWaitStep();
    // The values come from other threads; the count waits for them, so that
    // the client gets all in one piece. Answers given at once, and posts that
    // failed, are taken back.
    uint32_t direct = 0;
    const DirectAnswer answer = DirectAnswersTo(*this);
    const DirectAnswer counted = [&](const PostTarget& target, const uint8_t* record, uint32_t length) {
        ++direct;
        answer(target, record, length);
    };
    expectAnswers(int32_t(targets.size()));
    // Every reply goes out before the records are posted, so the count of a
    // get or set always precedes its value events.
    uint32_t failed = 0;
    switch (type) {
        case wire::MSG_GET_VALUE:
        case wire::MSG_GET_VALUE_POLL:
            writeCountReply(wire::MSG_GET_VALUE_REPLY, sequenceId, count);
            failed = DispatcherPostGetRequest(type == wire::MSG_GET_VALUE ? sequenceId : wire::kUnsolicitedId,
                                              *client, targets, waitStep, counted);
            break;
        case wire::MSG_SET_INTEGER:
        case wire::MSG_SET_INTEGER_ALT:
            writeCountReply(wire::MSG_SET_VALUE_REPLY, sequenceId, count);
            failed = DispatcherPostSetInteger(sequenceId, *client, targets, request.integer, waitStep);
            break;
        case wire::MSG_SET_DOUBLE:
        case wire::MSG_SET_DOUBLE_ALT:
            writeCountReply(wire::MSG_SET_VALUE_REPLY, sequenceId, count);
            failed = DispatcherPostSetDouble(sequenceId, *client, targets, request.number, waitStep);
            break;
        default:
            writeCountReply(wire::MSG_SET_VALUE_REPLY, sequenceId, count);
            failed = DispatcherPostSetBytes(sequenceId, *client, targets, request.byteCount, request.bytes, waitStep);
            break;
    }
    expectAnswers(-int32_t(failed + direct));
    // Each value announced by the count comes, or an error in its place.
    failed += count - uint32_t(targets.size());
    if (type != wire::MSG_GET_VALUE_POLL && sequenceId != wire::kUnsolicitedId) {
        for (uint32_t i = 0; i < failed; ++i) writeErrorReply(sequenceId, wire::ERROR_NOT_FOUND);
    }
    return QV_NO_ERROR;
}

QV_STATUS IFaceDataBinary::list(const std::string& path, uint32_t flags, uint16_t sequenceId) {
    BinaryListing listing;
    bool found = false;
    {
        StructureLock lock(serverContext().treeRegistry().treeStructureMutex());
        NodeSet set;
        DispatcherResolvePathList(serverContext().treeRegistry(), set, std::string(), path);
        found = !set.empty();
        const uint32_t maxDepth = (flags & wire::LIST_RECURSIVE) ? 0 : 1;
        for (const TreeNode::Ptr& node : set) {
            if (!listing.complete) break;
            BinaryListChildren(0, maxDepth, *node, flags, listing);
        }
    }
    if (!found) {
        writeErrorReply(sequenceId, wire::ERROR_NOT_FOUND);
        return QV_NO_ERROR;
    }
    if (!listing.complete) {
        // A cut listing would look whole to the client: refuse it instead.
        QVLOG_LIMITED(logging::warning)
            << boost::format("Node list of '%s' exceeds %u bytes; answered with an error.") % path %
                   kBinaryListTextLimit;
        writeErrorReply(sequenceId, wire::ERROR_COMMAND_FAILED);
        return QV_BUFFER_TOO_SMALL;
    }
    const uint32_t textLength = uint32_t(listing.text.size());
    std::vector<uint8_t> reply(wire::listNodesReplySize(textLength));
    wire::encodeHeader(reply.data(), wire::MSG_LIST_NODES_REPLY, uint32_t(reply.size()), sequenceId);
    std::memcpy(reply.data() + wire::kListTextAt, listing.text.data(), textLength);
    writeReply(reply.data(), uint32_t(reply.size()));
    return QV_NO_ERROR;
}

QV_STATUS IFaceDataBinary::updateDevices(uint16_t sequenceId) {
    if (DispatcherUpdateDevices(serverContext().treeRegistry()) == QV_NO_ERROR) {
        writeEmptyReply(wire::MSG_UPDATE_DEVICES_REPLY, sequenceId);
    } else {
        writeErrorReply(sequenceId, wire::ERROR_COMMAND_FAILED);
    }
    return QV_NO_ERROR;
}

void IFaceDataBinary::writeReply(const uint8_t* reply, uint32_t length) { write(reply, length, WRITE_CLASS_REPLY); }

void IFaceDataBinary::writeCountReply(uint16_t type, uint16_t sequenceId, uint32_t count) {
    std::array<uint8_t, wire::kCountReplySize> reply;
    wire::encodeCountReply(reply.data(), type, sequenceId, count);
    writeReply(reply.data(), uint32_t(reply.size()));
}

void IFaceDataBinary::writeEmptyReply(uint16_t type, uint16_t sequenceId) {
    std::array<uint8_t, wire::kEmptyReplySize> reply;
    wire::encodeHeader(reply.data(), type, wire::kEmptyReplySize, sequenceId);
    writeReply(reply.data(), uint32_t(reply.size()));
}

void IFaceDataBinary::writeErrorReply(uint16_t sequenceId, uint16_t code) {
    std::array<uint8_t, wire::kErrorReplySize> reply;
    wire::encodeErrorReply(reply.data(), sequenceId, code);
    writeReply(reply.data(), uint32_t(reply.size()));
}

QV_STATUS BinaryHello(IFaceDataBase& protocol) {
    auto* binary = dynamic_cast<IFaceDataBinary*>(&protocol);
    return binary ? binary->hello() : QV_STATUS(QV_COMMAND_INTERNAL);
}

int32_t InputBinaryMessage(const uint8_t* data, uint32_t length, IFaceDataBase& protocol) {
    auto* binary = dynamic_cast<IFaceDataBinary*>(&protocol);
    return binary ? binary->input(data, length) : -1;
}

QV_STATUS BinaryCommandDispatch(IFaceDataBinary& protocol, const uint8_t* body, uint32_t bodyLength, uint16_t type,
                                uint16_t sequenceId) {
    return protocol.dispatch(body, bodyLength, type, sequenceId);
}

}  // namespace tarnix
