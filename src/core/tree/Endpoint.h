#pragma once
#include "platform/thread/Mutex.h"

#include <cstdint>
#include <list>
#include <memory>
#include <string>

namespace tarnix {

class BufferFifoBase;
struct DispatcherTree;
struct SessionClient;

// The value-carrying side of a tree node: its id within the tree, the sessions
// subscribed to it and, for streamed nodes, the buffer the dispatcher drains.
// Changed only under both tree mutexes (subscriber lists also under the
// subscription mutex alone); read by the dispatcher under the subscription mutex.
struct Endpoint {
    explicit Endpoint(SharedTimedMutex& treeSubscriptionMutex) : subscriptionMutex(treeSubscriptionMutex) {}
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    // The subscription mutex of the tree's registry.
    SharedTimedMutex& subscriptionMutex;
    int32_t id = -1;
    // In subscription order, without duplicates; not owned.
    std::list<SessionClient*> subscribers QV_GUARDED_BY(subscriptionMutex);
    // "/" followed by the node's path, fixed when the endpoint is added.
    std::string path;
    std::weak_ptr<DispatcherTree> tree;
    bool buffered = false;
    std::shared_ptr<BufferFifoBase> buffer;
    // DataType of the stream's blocks; 0 when not buffered.
    uint16_t dataType = 0;
    // Digits shown for the node's doubles in the text protocol.
    uint16_t precision = 0;
};

}  // namespace tarnix
