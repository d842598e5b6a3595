#include "groups/PLLs.h"

#include "groups/BlockChecks.h"

namespace tarnix {

// The phase-locked loops' nodes are not built yet: the group shows its root node only.
QV_STATUS PLLsFeatureInit(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint16_t,
                          const std::vector<Feature*>& items, int count) {
    return GroupCheckBlocks(items, count, 1);
}

QV_STATUS PLLsFeatureLink(DeviceAccess&, const TreeNode::Ptr&, const std::vector<int>&, int) { return QV_NO_ERROR; }

}  // namespace tarnix
