#include "core/tree/Subscriptions.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/tree/DispatcherTree.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/thread/locks.hpp>

#include <algorithm>
#include <atomic>

namespace tarnix {

namespace {

std::atomic<int64_t> gSubscriptionLockTimeoutMs{6000};

}  // namespace

std::chrono::milliseconds subscriptionLockTimeout() {
    return std::chrono::milliseconds(gSubscriptionLockTimeoutMs.load(std::memory_order_relaxed));
}

void setSubscriptionLockTimeout(std::chrono::milliseconds timeout) {
    gSubscriptionLockTimeoutMs.store(timeout.count(), std::memory_order_relaxed);
}

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

QV_STATUS DispatcherSubscribeNode(SessionClient* client, int subscribe, const TreeNode::Ptr& node) {
    if (const std::shared_ptr<Endpoint>& endpoint = node->endpoint()) {
        const int64_t timeoutMs = gSubscriptionLockTimeoutMs.load(std::memory_order_relaxed);
        boost::unique_lock<boost::shared_mutex> lock(getTreeSubscriptionMutex(), boost::defer_lock);
        if (!lock.try_lock_for(boost::chrono::milliseconds(timeoutMs))) {
            QVLOG_LIMITED(logging::error) << "Can't get exclusive access to the tree within timeout "
                                  << boost::posix_time::to_simple_string(boost::posix_time::milliseconds(timeoutMs))
                                  << ", canceling command execution.";
            return QV_COMMAND_SERVER_FAILED;
        }
        // Adding and removing a client cannot fail.
        if (subscribe == 1)
            EndpointAddClient(endpoint, client).ignore();
        else
            EndpointRemoveClient(client, endpoint).ignore();
    }
    for (const TreeNode::Ptr& child : node->children())
        if (QV_STATUS status = DispatcherSubscribeNode(client, subscribe, child)) return status;
    return QV_NO_ERROR;
}

QV_STATUS DispatcherSubscribeNodeSet(SessionClient* client, int subscribe, const NodeSet& set) {
    for (const TreeNode::Ptr& node : set)
        if (QV_STATUS status = DispatcherSubscribeNode(client, subscribe, node)) return status;
    return QV_NO_ERROR;
}

QV_STATUS DispatcherRemoveClient(SessionClient* client) {
    if (client == nullptr) return QV_NO_ERROR;
    boost::unique_lock<boost::shared_mutex> subscriptionLock(getTreeSubscriptionMutex());
    boost::unique_lock<boost::shared_mutex> sessionListLock(getSessionListMutex());
    for (const auto& tree : getDispatcherTreeMap())
        // Removing a client cannot fail.
        for (const auto& endpoint : tree.second->endpoints) EndpointRemoveClient(client, endpoint.second).ignore();
    getSessionClientList().unlink(*client);
    return QV_NO_ERROR;
}

}  // namespace tarnix
