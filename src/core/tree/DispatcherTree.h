#pragma once
#include "core/tree/Endpoint.h"
#include "core/tree/RequestGate.h"
#include "core/tree/TreeId.h"
#include "core/tree/TreeNode.h"
#include "core/tree/WakeSignal.h"
#include "platform/thread/Mutex.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace tarnix {

class QVFifo;
class TreeRegistry;

struct EndpointIdOrder {
    bool operator()(const std::shared_ptr<Endpoint>& a, const std::shared_ptr<Endpoint>& b) const {
        return a->id < b->id;
    }
};

// One tree below the root: an instrument's tree or the server's own. It owns
// the endpoint table, the streamed endpoints, the request FIFO that clients
// write into and the output FIFO that the dispatcher reads.
struct DispatcherTree {
    DispatcherTree(TreeRegistry& owningRegistry, TreeId treeId, TreeNode::Ptr rootNode, std::shared_ptr<QVFifo> output,
                   std::shared_ptr<QVFifo> request);
    DispatcherTree(const DispatcherTree&) = delete;
    DispatcherTree& operator=(const DispatcherTree&) = delete;

    // The registry the tree belongs to; outlives the tree.
    TreeRegistry& registry;
    // The registry's subscription mutex (TreeRegistry::treeSubscriptionMutex).
    // The tables below change only under it (and the structure mutex, in a
    // DispatcherTreeLock), always on the tree owner's thread; the owner alone
    // also reads them without it.
    SharedTimedMutex& subscriptionMutex;
    const TreeId id;
    TreeNode::Ptr root;
    // Id of the next endpoint; ids are never reused within a tree.
    int32_t nextEndpointId QV_GUARDED_BY(subscriptionMutex) = 0;
    std::map<int32_t, std::shared_ptr<Endpoint>> endpoints QV_GUARDED_BY(subscriptionMutex);
    std::set<std::shared_ptr<Endpoint>, EndpointIdOrder> bufferedEndpoints QV_GUARDED_BY(subscriptionMutex);
    // Replies and value changes of the tree's owner; read by the dispatcher.
    std::shared_ptr<QVFifo> outputFifo;
    // ValueRecord requests written by TreeWrite; read by the tree's owner.
    std::shared_ptr<QVFifo> requestFifo;
    // The door of the request FIFO, set by the tree's owner: the only writer
    // of the FIFO once set. Keeps the FIFO short and lets the sessions'
    // requests into it in turn, bounds each session's share, wakes the owner
    // (RequestGate). Optional.
    std::shared_ptr<RequestGate> requestGate;
    // Optional, set by an owner whose values need nothing of its own thread
    // (the server's tree): answers a read request at once, on the asking
    // thread, by handing a reply record to `answer`, which places it into
    // the session's output without waiting; the owner calls it under the lock
    // that orders its answers and pushes, so that nothing the owner queues
    // later can reach the session first. False leaves the request to the
    // owner. Safe to call from any thread.
    typedef std::function<void(const uint8_t* record, uint32_t length)> DirectReadAnswer;
    std::function<bool(uint16_t sequenceTag, uint16_t sessionTag, int32_t endpointId, const DirectReadAnswer& answer)>
        directRead;
    // Held while a DispatcherTreeLock on this tree is open, and by TreeWrite
    // and TreePost on a tree without gate.
    Mutex mutex;
};

typedef std::map<TreeId, std::shared_ptr<DispatcherTree>> DispatcherTreeMap;

// The endpoint with this id, or an empty pointer when the id was never handed
// out or its endpoint was removed. Caller holds the subscription mutex, or is
// the tree's owner, the only thread that changes the tree.
std::shared_ptr<Endpoint> DispatcherTreeFindEndpoint(const DispatcherTree& tree, int32_t id)
    QV_REQUIRES_SHARED(tree.subscriptionMutex);

}  // namespace tarnix
