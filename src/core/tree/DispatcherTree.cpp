#include "core/tree/DispatcherTree.h"

namespace tarnix {

WakeSignal& getDispatcherWakeSignal() {
    static WakeSignal signal;
    return signal;
}

std::shared_mutex& getTreeStructureMutex() {
    static std::shared_mutex mutex;
    return mutex;
}

std::shared_timed_mutex& getTreeSubscriptionMutex() {
    static std::shared_timed_mutex mutex;
    return mutex;
}

DispatcherTreeMap& getDispatcherTreeMap() {
    static DispatcherTreeMap map;
    return map;
}

namespace {
// Exist before main, like the root node, so that no thread races their creation.
[[maybe_unused]] const bool gTreeStateCreated =
    (getTreeStructureMutex(), getTreeSubscriptionMutex(), getDispatcherTreeMap(), true);
}  // namespace

std::shared_ptr<Endpoint> DispatcherTreeFindEndpoint(const DispatcherTree& tree, int32_t id) {
    if (id < 0 || id >= tree.nextEndpointId) return nullptr;
    auto it = tree.endpoints.find(id);
    return it == tree.endpoints.end() ? nullptr : it->second;
}

}  // namespace tarnix
