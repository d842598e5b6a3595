#include "engine/NodeGroup.h"

#include "core/Logging.h"
#include "core/tree/TreeEndpoints.h"
#include "engine/DeviceState.h"

namespace tarnix {

QV_STATUS DeviceStateNodeGroupRegisterEP(DeviceStateNodeGroup& group, const EPNodePtr& ep) {
    if (!group.eps.emplace(ep->epId, ep).second) {
        QVLOG(logging::debug) << "Already registered!";
    }
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateNodeGroupAddFeatureRow(const Feature* item, DeviceAccess& device, DeviceStateNodeGroup& group) {
    const FeatureMap& map = stateOf(device).features;
    int row = -1;
    // An item that is not in the map leaves row at -1, which is checked next.
    FeatureMapRowOf(item, map, &row).ignore();
    if (row < 0 || row >= map.maximum) return QV_VALUE_NOT_FOUND;
    group.rows.insert(row);
    return QV_NO_ERROR;
}

std::shared_ptr<TreeNode> DeviceStateNodeGroupNode(const DeviceStateNodeGroup& group) { return group.node; }

QV_STATUS DeviceStateNodeGroupClear(DeviceAccess& device, DeviceStateNodeGroup& group) {
    DeviceState& state = stateOf(device);
    std::set<int> rows = group.rows;
    const uint32_t awaitingBefore = state.epNodes.awaitingCount;
    for (const auto& entry : group.eps) {
        if (EPNodePtr ep = DeviceStateEPNodesFind(state.epNodes, entry.first)) {
            if (ep->row >= 0) rows.insert(ep->row);
        }
        if (QV_STATUS s = DeviceStateEPNodesRemove(state.epNodes, entry.first)) return s;
    }
    // Removing the last endpoints still waiting for their values closes their
    // batch of requests; its count must not hold up the start-up for ever.
    if (awaitingBefore > 0 && state.epNodes.awaitingCount == 0 && state.initCounter > 0) --state.initCounter;
    for (int row : rows) {
        if (QV_STATUS s = FeatureMapClearRow(state.features, row)) return s;
        group.rows.erase(row);
    }
    group.eps.clear();
    if (!group.node || !state.tree) return QV_NO_ERROR;
    return DispatcherTreeRemoveNodeChildren(state.tree, group.node);
}

QV_STATUS DeviceStateEPAddSubfeature(DeviceAccess& device, const EPNodePtr& ep, int instance, int offset) {
    if (ep->row < 0) return QV_NO_ERROR;
    return FeatureMapAddSubfeature(stateOf(device).features, ep->row, instance, uint32_t(offset),
                                   uint32_t(ep->registerSize), ep->epId);
}

QV_STATUS DeviceStateBufferEP(DeviceAccess& device, const EPNodePtr& ep, uint16_t dataType) {
    ep->stream = DispatcherTreeBufferEndpoint(stateOf(device).tree, ep->epId, dataType);
    // The device loop's list of stream buffers follows the endpoint table.
    ++stateOf(device).epNodes.changeCounter;
    return QV_NO_ERROR;
}

}  // namespace tarnix
