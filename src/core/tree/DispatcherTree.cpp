#include "core/tree/DispatcherTree.h"

#include "core/tree/TreeRegistry.h"

namespace tarnix {

DispatcherTree::DispatcherTree(TreeRegistry& owningRegistry, TreeId treeId, TreeNode::Ptr rootNode,
                               std::shared_ptr<QVFifo> output, std::shared_ptr<QVFifo> request)
    : registry(owningRegistry),
      subscriptionMutex(owningRegistry.treeSubscriptionMutex()),
      id(treeId),
      root(std::move(rootNode)),
      outputFifo(std::move(output)),
      requestFifo(std::move(request)) {}

std::shared_ptr<Endpoint> DispatcherTreeFindEndpoint(const DispatcherTree& tree, int32_t id) {
    if (id < 0 || id >= tree.nextEndpointId) return nullptr;
    auto it = tree.endpoints.find(id);
    return it == tree.endpoints.end() ? nullptr : it->second;
}

}  // namespace tarnix
