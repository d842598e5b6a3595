#include "core/tree/TreeEndpoints.h"

#include "core/QVException.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/PathResolution.h"
#include "core/tree/TreeRegistry.h"

#include <limits>

namespace tarnix {

namespace {

void requireTreeLock() {
    if (!DispatcherTreeLockHeld()) QV_THROW(QVException("Not locked."));
}

QV_STATUS removeEndpointsBelow(const std::shared_ptr<DispatcherTree>& tree, const TreeNode::Ptr& node)
    QV_REQUIRES(tree->subscriptionMutex) {
    if (const std::shared_ptr<Endpoint> endpoint = node->endpoint()) {
        DispatcherTreeLockAssertHeld(endpoint->subscriptionMutex);
        endpoint->subscribers.clear();
        if (QV_STATUS status = DispatcherTreeUnbufferEndpoint(tree, endpoint)) return status;
        node->setEndpoint(nullptr);
        tree->endpoints.erase(endpoint->id);
    }
    for (const TreeNode::Ptr& child : node->children())
        if (QV_STATUS status = removeEndpointsBelow(tree, child)) return status;
    return QV_NO_ERROR;
}

}  // namespace

QV_STATUS DispatcherTreeAddEndpoint(const std::shared_ptr<DispatcherTree>& tree, const TreeNode::Ptr& node,
                                    uint16_t precision, int32_t* id) {
    requireTreeLock();
    if (!tree || !node) return QV_ERR_GENERAL;
    DispatcherTreeLockAssertHeld(tree->subscriptionMutex);
    if (tree->nextEndpointId == std::numeric_limits<int32_t>::max()) return QV_OVERFLOW;

    auto endpoint = std::make_shared<Endpoint>(tree->subscriptionMutex);
    endpoint->id = tree->nextEndpointId;
    endpoint->path = "/" + NodePathFrom(node, tree->registry.root());
    endpoint->tree = tree;
    endpoint->precision = precision;
    tree->endpoints[endpoint->id] = endpoint;
    ++tree->nextEndpointId;

    if (id != nullptr) *id = endpoint->id;
    node->setEndpoint(std::move(endpoint));
    return QV_NO_ERROR;
}

std::shared_ptr<BufferFifoBase> DispatcherTreeBufferEndpoint(const std::shared_ptr<DispatcherTree>& tree,
                                                             int32_t id, uint16_t dataType) {
    requireTreeLock();
    if (!tree) QV_THROW(QVException("EndpointId out of range."));
    DispatcherTreeLockAssertHeld(tree->subscriptionMutex);
    const std::shared_ptr<Endpoint> endpoint = DispatcherTreeFindEndpoint(*tree, id);
    // Also an id whose endpoint was removed: it no longer names anything.
    if (!endpoint) QV_THROW(QVException("EndpointId out of range."));

    if (!endpoint->buffer) {
        endpoint->buffer = std::make_shared<BufferFifo<kEndpointBufferBlocks, kEndpointBufferBytes>>();
        endpoint->buffered = true;
    }
    endpoint->dataType = dataType;
    tree->bufferedEndpoints.insert(endpoint);
    return endpoint->buffer;
}

QV_STATUS DispatcherTreeUnbufferEndpoint(const std::shared_ptr<DispatcherTree>& tree,
                                         const std::shared_ptr<Endpoint>& endpoint) {
    requireTreeLock();
    if (!tree || !endpoint || !endpoint->buffered) return QV_NO_ERROR;
    DispatcherTreeLockAssertHeld(tree->subscriptionMutex);

    auto it = tree->bufferedEndpoints.find(endpoint);
    if (it == tree->bufferedEndpoints.end() || *it != endpoint)
        QV_THROW(QVException("Tree not found in buffEps."));
    tree->bufferedEndpoints.erase(it);
    endpoint->buffer.reset();
    endpoint->dataType = 0;
    endpoint->buffered = false;
    return QV_NO_ERROR;
}

QV_STATUS DispatcherTreeRemoveNodeChildren(const std::shared_ptr<DispatcherTree>& tree, const TreeNode::Ptr& node) {
    requireTreeLock();
    if (!tree || !node) return QV_ERR_GENERAL;
    DispatcherTreeLockAssertHeld(tree->subscriptionMutex);
    if (QV_STATUS status = removeEndpointsBelow(tree, node)) return status;
    node->removeAllChildren();
    return QV_NO_ERROR;
}

}  // namespace tarnix
