#include "core/tree/DispatcherTree.h"

namespace tarnix {

std::shared_ptr<Endpoint> DispatcherTreeFindEndpoint(const DispatcherTree& tree, int32_t id) {
    if (id < 0 || id >= tree.nextEndpointId) return nullptr;
    auto it = tree.endpoints.find(id);
    return it == tree.endpoints.end() ? nullptr : it->second;
}

}  // namespace tarnix
