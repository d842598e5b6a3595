#pragma once
#include "core/QVStatus.h"
#include "core/tree/Endpoint.h"
#include "core/tree/NodeSet.h"
#include "core/tree/SessionClient.h"

#include <chrono>
#include <memory>

namespace tarnix {

// Subscribing takes the subscription mutex once per endpoint node, waiting at
// most this long (6000 ms unless changed) before failing with 0x800F.
std::chrono::milliseconds subscriptionLockTimeout();
void setSubscriptionLockTimeout(std::chrono::milliseconds timeout);

// Caller holds the subscription mutex exclusively. Both return 0.
QV_STATUS EndpointAddClient(const std::shared_ptr<Endpoint>& endpoint, SessionClient* client);
QV_STATUS EndpointRemoveClient(SessionClient* client, const std::shared_ptr<Endpoint>& endpoint);

// Subscribe flag 1 adds the session to the endpoint of the node and of every
// descendant; any other flag removes it. Caller holds the structure mutex
// shared. The first failure (0x800F) ends the walk; nodes done keep their state.
QV_STATUS DispatcherSubscribeNode(SessionClient* client, int subscribe, const TreeNode::Ptr& node);
QV_STATUS DispatcherSubscribeNodeSet(SessionClient* client, int subscribe, const NodeSet& set);

// A closing session leaves every subscriber list and the session list.
QV_STATUS DispatcherRemoveClient(SessionClient* client);

}  // namespace tarnix
