#include "engine/nodedefs/NodeDefFamily.h"

#include "core/QVException.h"
#include "core/tree/TreeEndpoints.h"
#include "engine/DeviceState.h"

namespace tarnix {

QV_STATUS DeviceStateGetNodeGroupOfType(DeviceAccess& device, int32_t typeId, DeviceStateNodeGroup** out,
                                        const TreeNode::Ptr& parent, TreeNode::Ptr (*makeNode)(const TreeNode::Ptr&)) {
    DeviceState& state = stateOf(device);
    for (const auto& group : state.nodeGroups) {
        if (group->typeId == typeId) {
            if (out) *out = group.get();
            return QV_NO_ERROR;
        }
    }
    auto group = std::make_unique<DeviceStateNodeGroup>(typeId);
    group->node = makeNode(parent);
    state.nodeGroups.push_back(std::move(group));
    if (out) *out = state.nodeGroups.back().get();
    return QV_NO_ERROR;
}

int32_t DeviceStateRowOf(DeviceAccess& device, const Feature* item) {
    const FeatureMap& map = stateOf(device).features;
    int row = -1;
    // An item that is not in the map leaves row at -1, which is checked next.
    FeatureMapRowOf(item, map, &row).ignore();
    return row >= 0 && row < map.maximum ? row : -1;
}

EPNodePtr DeviceStateBindLeaf(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& node,
                              uint32_t valueSize, int32_t registerSize, int32_t row, int32_t instance, int32_t offset,
                              int32_t nameIndex) {
    DeviceState& state = stateOf(device);
    if (nameIndex > -1) node->setIndex(nameIndex);
    int64_t precision = 0;
    node->getProperty("precision", precision);
    int32_t id = -1;
    if (DispatcherTreeAddEndpoint(state.tree, node, uint16_t(precision), &id) != QV_NO_ERROR)
        QV_THROW(QVException("Can't add endpoint."));
    EPNodePtr ep = DeviceStateEPNodesAdd(state.epNodes, id, valueSize);
    ep->row = row;
    ep->instance = instance;
    ep->offset = offset;
    ep->registerSize = registerSize;
    if (row >= 0 &&
        FeatureMapAddSubfeature(state.features, row, instance, uint32_t(offset), uint32_t(registerSize), id) !=
            QV_NO_ERROR)
        QV_THROW(QVException("Can't add subfeature."));
    if (!group || DeviceStateNodeGroupRegisterEP(*group, ep) != QV_NO_ERROR)
        QV_THROW(QVException("Can't register epnode."));
    return ep;
}

}  // namespace tarnix
