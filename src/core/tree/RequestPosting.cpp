#include "core/tree/RequestPosting.h"

#include "core/ByteOrder.h"
#include "core/LogRateLimit.h"
#include "core/ValueRecord.h"
#include "core/fifo/QVFifo.h"

#include <boost/current_function.hpp>

#include <cstdio>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace tarnix {

namespace {

constexpr uint32_t kEndpointIdOffset = 4;

ValueRecordHeader requestHeader(uint16_t sequence, const SessionClient& client, uint16_t kind) {
    ValueRecordHeader header;
    header.sequenceTag = sequence;
    header.sessionTag = client.sessionId;
    header.kind = kind;
    header.flags = 0;
    return header;
}

std::string statusText(QV_STATUS status) {
    switch (status) {
        case QV_MUTEX_LOCK: return "QV_MUTEX_LOCK";
        case QV_MUTEX_UNLOCK: return "QV_MUTEX_UNLOCK";
        case QV_UNDERRUN: return "QV_UNDERRUN";
        case QV_OVERFLOW: return "QV_OVERFLOW";
        default: {
            char text[48];
            std::snprintf(text, sizeof text, "(%d, 0x%08x)", int(status), unsigned(status));
            return text;
        }
    }
}

}  // namespace

QV_STATUS TreeWrite(DispatcherTree& tree, const uint8_t* data, uint32_t length) {
    if (!tree.requestFifo || length == 0) return QV_NO_ERROR;
    std::lock_guard<std::mutex> guard(tree.mutex);
    FifoWriter writer(*tree.requestFifo, length);
    if (!writer.isValid()) {
        if (QV_PRINT_ADMITTED()) std::printf("QV_OVERFLOW in %s\n", BOOST_CURRENT_FUNCTION);
        return QV_OVERFLOW;
    }
    writer.commit(data, length);
    if (tree.requestSignal) tree.requestSignal->notify();
    return QV_NO_ERROR;
}

void DispatcherPostToEndpoint(uint8_t* record, uint32_t length, const TreeNode::Ptr& node) {
    const std::shared_ptr<Endpoint>& endpoint = node->endpoint();
    if (!endpoint || length < kEndpointIdOffset + 4) return;
    le::put32(record + kEndpointIdOffset, static_cast<uint32_t>(endpoint->id));
    const std::shared_ptr<DispatcherTree> tree = endpoint->tree.lock();
    if (!tree) return;
    if (QV_STATUS status = TreeWrite(*tree, record, length); status != QV_NO_ERROR && QV_PRINT_ADMITTED()) {
        // One call, so that lines of concurrent posters do not interleave.
        const std::string line = "Can't write to tree -> " + statusText(status) + "\n";
        std::fputs(line.c_str(), stdout);
    }
}

QV_STATUS DispatcherPostToEndpoints(uint8_t* record, uint32_t length, const NodeSet& set) {
    for (const TreeNode::Ptr& node : set) DispatcherPostToEndpoint(record, length, node);
    return QV_NO_ERROR;
}

QV_STATUS DispatcherPostGetRequest(uint16_t sequence, const SessionClient& client, const NodeSet& set) {
    uint8_t record[kValueRecordHeaderSize];
    putValueRecordHeader(record, requestHeader(sequence, client, DATATYPE_GETVALUE));
    return DispatcherPostToEndpoints(record, sizeof record, set);
}

QV_STATUS DispatcherPostSetDouble(uint16_t sequence, const SessionClient& client, const NodeSet& set,
                                  double value) {
    uint8_t record[kValueRecordNumberSize];
    putValueRecordDouble(record, requestHeader(sequence, client, DATATYPE_DOUBLE), value);
    return DispatcherPostToEndpoints(record, sizeof record, set);
}

QV_STATUS DispatcherPostSetInteger(uint16_t sequence, const SessionClient& client, const NodeSet& set,
                                   int32_t value) {
    uint8_t record[kValueRecordNumberSize];
    putValueRecordInteger(record, requestHeader(sequence, client, DATATYPE_INTEGER), int64_t(value));
    return DispatcherPostToEndpoints(record, sizeof record, set);
}

QV_STATUS DispatcherPostSetBytes(uint16_t sequence, const SessionClient& client, const NodeSet& set,
                                 uint32_t count, const uint8_t* bytes) {
    const uint64_t length = uint64_t(kValueRecordByteArrayHeaderSize) + count;
    // A record whose length does not fit its 32-bit field cannot be carried.
    if (length > std::numeric_limits<uint32_t>::max() || (count > 0 && bytes == nullptr)) return QV_NO_ERROR;
    std::vector<uint8_t> record(static_cast<size_t>(length));
    putValueRecordByteArray(record.data(), requestHeader(sequence, client, DATATYPE_BYTEARRAY), bytes, count);
    return DispatcherPostToEndpoints(record.data(), static_cast<uint32_t>(length), set);
}

}  // namespace tarnix
