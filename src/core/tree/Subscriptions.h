#pragma once
#include "core/QVStatus.h"
#include "core/tree/Endpoint.h"
#include "core/tree/NodeSet.h"
#include "core/tree/SessionClient.h"
#include "core/tree/TreeRegistry.h"

#include <memory>

namespace tarnix {

// Caller holds the subscription mutex exclusively. Both return 0.
QV_STATUS EndpointAddClient(const std::shared_ptr<Endpoint>& endpoint, SessionClient* client)
    QV_REQUIRES(endpoint->subscriptionMutex);
QV_STATUS EndpointRemoveClient(SessionClient* client, const std::shared_ptr<Endpoint>& endpoint)
    QV_REQUIRES(endpoint->subscriptionMutex);

// Subscribe flag 1 adds the session to the endpoint of the node and of every
// descendant; any other flag removes it. Caller holds the structure mutex
// shared. All or nothing: the endpoints change under one hold of the
// subscription mutex, taken within the registry's subscriptionLockTimeout();
// when it cannot be taken (0x800F) none of them changes.
QV_STATUS DispatcherSubscribeNode(TreeRegistry& registry, SessionClient* client, int subscribe,
                                  const TreeNode::Ptr& node) QV_REQUIRES_SHARED(registry.treeStructureMutex())
    QV_EXCLUDES(registry.treeSubscriptionMutex());
QV_STATUS DispatcherSubscribeNodeSet(TreeRegistry& registry, SessionClient* client, int subscribe,
                                     const NodeSet& set) QV_REQUIRES_SHARED(registry.treeStructureMutex())
    QV_EXCLUDES(registry.treeSubscriptionMutex());

// A closing session leaves every subscriber list and the session list.
QV_STATUS DispatcherRemoveClient(TreeRegistry& registry, SessionClient* client)
    QV_EXCLUDES(registry.treeSubscriptionMutex(), registry.sessionListMutex());

}  // namespace tarnix
