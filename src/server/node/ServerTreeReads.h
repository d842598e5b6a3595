#pragma once
#include "platform/thread/Mutex.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnix {

class Listener;
class QVFifo;

// Endpoint ids of the server's own tree.
struct ServerTreeEndpointIds {
    int32_t trees = -1;
    int32_t version = -1;
    int32_t revision = -1;
    int32_t fwRevision = -1;
    int32_t copyright = -1;
    int32_t port = -1;
    int32_t open = -1;
    int32_t clockBase = -1;
    int32_t level = -1;
    int32_t out = -1;
};

// What reads of the server's tree answer. Every value is a constant or a
// setting that any thread may read, so the server-node thread and the
// sessions (which answer reads of this tree at once) share it, with the node
// lock that keeps both kinds of answers in one order.
struct ServerTreeReads {
    enum class Kind { None, Integer, Double, Text };
    struct Value {
        Kind kind = Kind::None;
        int64_t integer = 0;
        double number = 0.0;
        std::string text;
    };

    // The node's value; Kind::None for a node that cannot be read.
    Value read(int32_t endpointId) const;
    // The reply record of a read (flags reply-only, the request's tags);
    // false for a node that cannot be read.
    bool reply(uint16_t sequenceTag, uint16_t sessionTag, int32_t endpointId, std::vector<uint8_t>& record) const;
    // A read answered at once, on the asking thread: only while no record of
    // this tree waits for the dispatcher and no setting is being changed, so
    // that the answer passes no push of an earlier change. The reply record
    // goes to `answer` under the node lock: a push queued later reaches the
    // session after it. False leaves the read to the server-node thread,
    // behind what is queued.
    bool replyAtOnce(uint16_t sequenceTag, uint16_t sessionTag, int32_t endpointId,
                     const std::function<void(const uint8_t* record, uint32_t length)>& answer) const;

    ServerTreeEndpointIds ids;
    std::weak_ptr<Listener> listener;
    // The debug level of the DEBUG/LEVEL node; written by the server-node
    // thread only.
    std::atomic<int32_t> debugLevel{3};

    // The node lock: held exclusively while a request is answered and while a
    // tree-change record is written (by every writer of the output FIFO),
    // shared by the reads answered at once.
    mutable SharedMutex nodeLock;
    // The tree's output FIFO (read by the dispatcher).
    std::shared_ptr<QVFifo> output;
    // A write is being carried out: its new value may already show while the
    // push of the change is not yet queued.
    bool changing QV_GUARDED_BY(nodeLock) = false;
};

}  // namespace tarnix
