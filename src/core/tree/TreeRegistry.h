#pragma once
#include "core/QVStatus.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/FailedRequests.h"
#include "core/tree/SessionClient.h"
#include "core/tree/TreeNode.h"
#include "core/tree/WakeSignal.h"
#include "platform/thread/Mutex.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace tarnix {

struct Endpoint;

// What the tree core asks of the program that serves the trees (the server).
// The server fills these in; each one may be empty, and each may be replaced
// while the trees are in use.
//
// Receiver of tree-change notices (the server's own tree). Called on the
// thread that raised the notice, with no tree lock held by that thread; it may
// still be called briefly after it was replaced or cleared, so it must not
// capture anything it does not keep alive itself (hold weak references).
typedef std::function<void(const TreeNode::Ptr& node, uint8_t code)> TreeNoticeSink;
// Looks for new or removed instruments now.
typedef std::function<QV_STATUS()> DeviceUpdateHook;
// Converts a reply record for the asking session's protocol and queues it to
// that session; false when it could not (the session is gone or between
// protocols), in which case the caller queues the record for the dispatcher.
// Called on the tree owners' threads.
typedef std::function<bool(const Endpoint& endpoint, const uint8_t* record, uint32_t length)> DirectReplyDeliverer;

// Everything the trees of one server share: the root node, the registry of
// trees below it, the locks over them, the dispatcher's wake-up, the list of
// sessions the subscriber lists refer to, the requests that failed for want
// of an owner, and the server's hooks. One per server; nothing of it is
// process-wide, so several servers (or tests) can live in one process.
//
// Locks, always taken in this order: structure mutex, subscription mutex,
// session-list mutex; a tree's own mutex after the structure mutex (and after
// the subscription mutex inside a DispatcherTreeLock).
class TreeRegistry {
public:
    TreeRegistry();
    TreeRegistry(const TreeRegistry&) = delete;
    TreeRegistry& operator=(const TreeRegistry&) = delete;
    ~TreeRegistry();

    // The root of every tree of this registry.
    const TreeNode::Ptr& root() const { return root_; }
    // Held shared while nodes are resolved and used, exclusively while trees
    // are built or dismantled (DispatcherTreeLock).
    SharedTimedMutex& treeStructureMutex() QV_RETURN_CAPABILITY(treeStructureMutex_) { return treeStructureMutex_; }
    // Guards the tree map, every endpoint table and every subscriber list.
    SharedTimedMutex& treeSubscriptionMutex() QV_RETURN_CAPABILITY(treeSubscriptionMutex_) {
        return treeSubscriptionMutex_;
    }
    // The trees, ascending by id: the server's tree, then the devices.
    DispatcherTreeMap& dispatcherTreeMap() QV_REQUIRES(treeSubscriptionMutex_) { return dispatcherTreeMap_; }
    const DispatcherTreeMap& dispatcherTreeMap() const QV_REQUIRES_SHARED(treeSubscriptionMutex_) {
        return dispatcherTreeMap_;
    }
    // The dispatcher waits on it when a pass found nothing to do; writers of
    // output FIFOs notify it after a record so that it is carried on at once.
    WakeSignal& wakeSignal() { return wakeSignal_; }
    // The sessions in creation order.
    SessionClientList& sessionClientList() QV_REQUIRES(sessionListMutex_) { return sessionClientList_; }
    const SessionClientList& sessionClientList() const QV_REQUIRES_SHARED(sessionListMutex_) {
        return sessionClientList_;
    }
    SharedMutex& sessionListMutex() QV_RETURN_CAPABILITY(sessionListMutex_) { return sessionListMutex_; }

    // Subscribing takes the subscription mutex once per endpoint node, waiting
    // at most this long (6000 ms unless changed) before failing with 0x800F.
    std::chrono::milliseconds subscriptionLockTimeout() const;
    void setSubscriptionLockTimeout(std::chrono::milliseconds timeout);

    // Requests of trees whose owner ended before taking them (FailedRequests.h).
    void addFailedRequests(const std::vector<FailedRequest>& requests);
    std::vector<FailedRequest> takeFailedRequests();

    // The server's hooks; an empty one clears it.
    void setTreeNoticeSink(TreeNoticeSink sink);
    void setDeviceUpdateHook(DeviceUpdateHook hook);
    void setDirectReplyDeliverer(DirectReplyDeliverer deliverer);
    TreeNoticeSink treeNoticeSink() const;
    DeviceUpdateHook deviceUpdateHook() const;
    std::shared_ptr<const DirectReplyDeliverer> directReplyDeliverer() const;

private:
    const TreeNode::Ptr root_;
    SharedTimedMutex treeStructureMutex_;
    SharedTimedMutex treeSubscriptionMutex_;
    DispatcherTreeMap dispatcherTreeMap_ QV_GUARDED_BY(treeSubscriptionMutex_);
    WakeSignal wakeSignal_;
    SharedMutex sessionListMutex_;
    SessionClientList sessionClientList_ QV_GUARDED_BY(sessionListMutex_);
    std::atomic<int64_t> subscriptionLockTimeoutMs_{6000};

    Mutex failedMutex_;
    std::vector<FailedRequest> failed_ QV_GUARDED_BY(failedMutex_);
    // Lets the dispatcher skip the lock on every pass while nothing failed.
    std::atomic<bool> anyFailed_{false};

    mutable Mutex hookMutex_;
    TreeNoticeSink noticeSink_ QV_GUARDED_BY(hookMutex_);
    DeviceUpdateHook deviceUpdate_ QV_GUARDED_BY(hookMutex_);
    std::shared_ptr<const DirectReplyDeliverer> directReplyDeliverer_ QV_GUARDED_BY(hookMutex_);
};

}  // namespace tarnix
