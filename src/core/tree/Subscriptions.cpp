#include "core/tree/Subscriptions.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/tree/TreeRegistry.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

namespace tarnix {

QV_STATUS EndpointAddClient(const std::shared_ptr<Endpoint>& endpoint, SessionClient* client) {
    if (!endpoint || client == nullptr) return QV_NO_ERROR;
    auto& subscribers = endpoint->subscribers;
    if (std::find(subscribers.begin(), subscribers.end(), client) == subscribers.end())
        subscribers.push_back(client);
    return QV_NO_ERROR;
}

QV_STATUS EndpointRemoveClient(SessionClient* client, const std::shared_ptr<Endpoint>& endpoint) {
    if (endpoint) endpoint->subscribers.remove(client);
    return QV_NO_ERROR;
}

namespace {

// The endpoints of the node and of every descendant, in tree order.
void collectEndpoints(const TreeNode::Ptr& node, std::vector<std::shared_ptr<Endpoint>>& endpoints) {
    if (const std::shared_ptr<Endpoint>& endpoint = node->endpoint()) endpoints.push_back(endpoint);
    for (const TreeNode::Ptr& child : node->children()) collectEndpoints(child, endpoints);
}

// All of the endpoints change under one hold of the subscription mutex, so
// that a time-out leaves every one of them as it was.
QV_STATUS subscribeEndpoints(TreeRegistry& registry, SessionClient* client, int subscribe,
                             const std::vector<std::shared_ptr<Endpoint>>& endpoints)
    QV_EXCLUDES(registry.treeSubscriptionMutex()) {
    if (endpoints.empty()) return QV_NO_ERROR;
    const int64_t timeoutMs = registry.subscriptionLockTimeout().count();
    UniqueLock<SharedTimedMutex> lock(registry.treeSubscriptionMutex(), std::defer_lock);
    // Measured on the system clock: the steady-clock wait of the standard
    // library goes through a lock call that ThreadSanitizer does not see,
    // so it would take the list changes below for unguarded ones.
    if (!lock.try_lock() &&
        !lock.try_lock_until(std::chrono::system_clock::now() + std::chrono::milliseconds(timeoutMs))) {
        QVLOG_LIMITED(logging::error) << "Can't get exclusive access to the tree within timeout "
                                      << boost::posix_time::to_simple_string(
                                             boost::posix_time::milliseconds(timeoutMs))
                                      << ", canceling command execution.";
        return QV_COMMAND_SERVER_FAILED;
    }
    for (const std::shared_ptr<Endpoint>& endpoint : endpoints) {
        assertSameMutex(registry.treeSubscriptionMutex(), endpoint->subscriptionMutex);
        // Adding and removing a client cannot fail.
        if (subscribe == 1)
            EndpointAddClient(endpoint, client).ignore();
        else
            EndpointRemoveClient(client, endpoint).ignore();
    }
    return QV_NO_ERROR;
}

}  // namespace

QV_STATUS DispatcherSubscribeNode(TreeRegistry& registry, SessionClient* client, int subscribe,
                                  const TreeNode::Ptr& node) {
    std::vector<std::shared_ptr<Endpoint>> endpoints;
    collectEndpoints(node, endpoints);
    return subscribeEndpoints(registry, client, subscribe, endpoints);
}

QV_STATUS DispatcherSubscribeNodeSet(TreeRegistry& registry, SessionClient* client, int subscribe,
                                     const NodeSet& set) {
    std::vector<std::shared_ptr<Endpoint>> endpoints;
    for (const TreeNode::Ptr& node : set) collectEndpoints(node, endpoints);
    return subscribeEndpoints(registry, client, subscribe, endpoints);
}

QV_STATUS DispatcherRemoveClient(TreeRegistry& registry, SessionClient* client) {
    if (client == nullptr) return QV_NO_ERROR;
    LockGuard<SharedTimedMutex> subscriptionLock(registry.treeSubscriptionMutex());
    LockGuard<SharedMutex> sessionListLock(registry.sessionListMutex());
    for (const auto& tree : registry.dispatcherTreeMap()) {
        assertSameMutex(registry.treeSubscriptionMutex(), tree.second->subscriptionMutex);
        for (const auto& endpoint : tree.second->endpoints) {
            assertSameMutex(registry.treeSubscriptionMutex(), endpoint.second->subscriptionMutex);
            // Removing a client cannot fail.
            EndpointRemoveClient(client, endpoint.second).ignore();
        }
    }
    registry.sessionClientList().unlink(*client);
    return QV_NO_ERROR;
}

}  // namespace tarnix
