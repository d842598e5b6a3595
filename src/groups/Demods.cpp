#include "groups/Demods.h"

#include "groups/BlockChecks.h"

namespace tarnix {

// The demodulators' nodes are not built yet: the group shows its root node only.
QV_STATUS DemodsFeatureInit(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint16_t,
                            const std::vector<Feature*>& items, int count) {
    return GroupCheckBlocks(items, count, 2, RepsRelation::Twice);
}

QV_STATUS DemodsFeatureLink(DeviceAccess&, const TreeNode::Ptr&, const std::vector<int>&, int) { return QV_NO_ERROR; }

}  // namespace tarnix
