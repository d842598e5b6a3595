#include "core/tree/RequestPosting.h"

#include "platform/endian/ByteOrder.h"
#include "core/LogRateLimit.h"
#include "core/ValueRecord.h"
#include "core/fifo/QVFifo.h"
#include "core/tree/RequestGate.h"

#include <boost/current_function.hpp>

#include <chrono>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnix {

namespace {

constexpr uint32_t kEndpointIdOffset = 4;
constexpr uint32_t kSessionTagOffset = 2;
// A post that found its share used up waits this long at most before it
// checks that its session still runs (and lets the session send its output).
constexpr auto kRoomWaitStep = std::chrono::milliseconds(2);
// A poster that sleeps until woken (its share freed, its output due, its
// stop) looks at its session at least this often anyway.
constexpr auto kShareSleepLimit = std::chrono::milliseconds(500);

ValueRecordHeader requestHeader(uint16_t sequence, const SessionClient& client, uint16_t kind) {
    ValueRecordHeader header;
    header.sequenceTag = sequence;
    header.sessionTag = client.sessionId;
    header.kind = kind;
    header.flags = 0;
    return header;
}

std::string statusText(QV_STATUS status) {
    switch (status.code()) {
        case QV_MUTEX_LOCK: return "QV_MUTEX_LOCK";
        case QV_MUTEX_UNLOCK: return "QV_MUTEX_UNLOCK";
        case QV_UNDERRUN: return "QV_UNDERRUN";
        case QV_OVERFLOW: return "QV_OVERFLOW";
        default: {
            char text[48];
            std::snprintf(text, sizeof text, "(%d, 0x%08x)", int(status.code()), unsigned(status.code()));
            return text;
        }
    }
}

}  // namespace

namespace {

uint16_t sessionTagOf(const uint8_t* data, uint32_t length) {
    return length >= kSessionTagOffset + 2 ? le::get16(data + kSessionTagOffset) : 0;
}

// One try at writing the record into a tree without a gate.
bool writeUngated(DispatcherTree& tree, const uint8_t* data, uint32_t length) {
    LockGuard<Mutex> guard(tree.mutex);
    FifoWriter writer(*tree.requestFifo, length);
    if (!writer.isValid()) return false;
    writer.commit(data, length);
    return true;
}

bool accepted(RequestGate::PostResult result) {
    return result == RequestGate::PostResult::Queued || result == RequestGate::PostResult::Waiting;
}

}  // namespace

QV_STATUS TreeWrite(DispatcherTree& tree, const uint8_t* data, uint32_t length) {
    if (!tree.requestFifo || length == 0) return QV_NO_ERROR;
    const bool written = tree.requestGate ? accepted(tree.requestGate->post(sessionTagOf(data, length), data, length))
                                          : writeUngated(tree, data, length);
    if (written) return QV_NO_ERROR;
    if (QV_PRINT_ADMITTED()) std::printf("QV_OVERFLOW in %s\n", BOOST_CURRENT_FUNCTION);
    return QV_OVERFLOW;
}

QV_STATUS TreePost(DispatcherTree& tree, const uint8_t* data, uint32_t length, const PostWaitStep& waitStep) {
    if (!tree.requestFifo || length == 0) return QV_NO_ERROR;
    if (!tree.requestGate) {
        while (!writeUngated(tree, data, length)) {
            // A record that does not fit into the empty FIFO never will.
            if (!waitStep || tree.requestFifo->used() == 0) return QV_OVERFLOW;
            std::this_thread::sleep_for(kRoomWaitStep);
            if (!waitStep()) return QV_OVERFLOW;
        }
        return QV_NO_ERROR;
    }
    RequestGate& gate = *tree.requestGate;
    const uint16_t session = sessionTagOf(data, length);
    for (;;) {
        switch (gate.post(session, data, length)) {
            case RequestGate::PostResult::Queued:
            case RequestGate::PostResult::Waiting:
                return QV_NO_ERROR;
            case RequestGate::PostResult::Closed:
                return QV_VALUE_NOT_FOUND;
            case RequestGate::PostResult::TooLarge:
                return QV_OVERFLOW;
            case RequestGate::PostResult::ShareFull:
                break;
        }
        // The session has its share at the gate: it waits for half of it
        // (reading no input meanwhile, so TCP holds its client back).
        if (!waitStep) return QV_OVERFLOW;
        if (!waitStep.sleeps()) {
            gate.waitForShare(session, kRoomWaitStep);
        } else if (gate.awaitShare(session, waitStep.wake)) {
            waitStep.sleep(kShareSleepLimit);
            gate.stopAwaiting(session);
        }
        if (!waitStep()) return QV_OVERFLOW;
    }
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

PostTargets DispatcherPostTargets(const NodeSet& set) {
    PostTargets targets;
    for (const TreeNode::Ptr& node : set) {
        const std::shared_ptr<Endpoint>& endpoint = node->endpoint();
        if (!endpoint) continue;
        std::shared_ptr<DispatcherTree> tree = endpoint->tree.lock();
        if (tree) targets.push_back(PostTarget{std::move(tree), endpoint->id, endpoint});
    }
    return targets;
}

uint32_t DispatcherPostToTargets(uint8_t* record, uint32_t length, const PostTargets& targets,
                                 const PostWaitStep& waitStep, const SessionClient* client, const DirectAnswer& direct) {
    uint32_t failed = 0;
    if (length < kEndpointIdOffset + 4) return uint32_t(targets.size());
    for (const PostTarget& target : targets) {
        DispatcherTree& tree = *target.tree;
        const bool answersDirectly = bool(tree.directRead) && client;
        if (answersDirectly && direct && client->directTreeAnswersDue.load() == 0) {
            const ValueRecordHeader header = getValueRecordHeader(record);
            const auto answer = [&](const uint8_t* reply, uint32_t length) { direct(target, reply, length); };
            if (tree.directRead(header.sequenceTag, header.sessionTag, target.endpointId, answer)) continue;
        }
        le::put32(record + kEndpointIdOffset, static_cast<uint32_t>(target.endpointId));
        // Counted before the post: the answer may be delivered at once.
        if (answersDirectly) client->directTreeAnswersDue.fetch_add(1);
        if (TreePost(tree, record, length, waitStep) != QV_NO_ERROR) {
            if (answersDirectly) client->directTreeAnswersDue.fetch_sub(1);
            ++failed;
        } else if (client) {
            client->treePosts.fetch_add(1, std::memory_order_relaxed);
        }
    }
    return failed;
}

uint32_t DispatcherPostGetRequest(uint16_t sequence, const SessionClient& client, const PostTargets& targets,
                                  const PostWaitStep& waitStep, const DirectAnswer& direct) {
    uint8_t record[kValueRecordHeaderSize];
    putValueRecordHeader(record, requestHeader(sequence, client, DATATYPE_GETVALUE));
    return DispatcherPostToTargets(record, sizeof record, targets, waitStep, &client, direct);
}

uint32_t DispatcherPostSetDouble(uint16_t sequence, const SessionClient& client, const PostTargets& targets,
                                 double value, const PostWaitStep& waitStep) {
    uint8_t record[kValueRecordNumberSize];
    putValueRecordDouble(record, requestHeader(sequence, client, DATATYPE_DOUBLE), value);
    return DispatcherPostToTargets(record, sizeof record, targets, waitStep, &client);
}

uint32_t DispatcherPostSetInteger(uint16_t sequence, const SessionClient& client, const PostTargets& targets,
                                  int64_t value, const PostWaitStep& waitStep) {
    uint8_t record[kValueRecordNumberSize];
    putValueRecordInteger(record, requestHeader(sequence, client, DATATYPE_INTEGER), value);
    return DispatcherPostToTargets(record, sizeof record, targets, waitStep, &client);
}

uint32_t DispatcherPostSetBytes(uint16_t sequence, const SessionClient& client, const PostTargets& targets,
                                uint32_t count, const uint8_t* bytes, const PostWaitStep& waitStep) {
    const uint64_t length = uint64_t(kValueRecordByteArrayHeaderSize) + count;
    if (length > std::numeric_limits<uint32_t>::max() || (count > 0 && bytes == nullptr))
        return uint32_t(targets.size());
    std::vector<uint8_t> record(static_cast<size_t>(length));
    putValueRecordByteArray(record.data(), requestHeader(sequence, client, DATATYPE_BYTEARRAY), bytes, count);
    return DispatcherPostToTargets(record.data(), static_cast<uint32_t>(length), targets, waitStep, &client);
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
                                   int64_t value) {
    uint8_t record[kValueRecordNumberSize];
    putValueRecordInteger(record, requestHeader(sequence, client, DATATYPE_INTEGER), value);
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
