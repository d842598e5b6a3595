#include "groups/SigOuts.h"

#include "groups/BlockChecks.h"

namespace tarnix {

// The signal outputs' nodes are not built yet: the group shows its root node only.
QV_STATUS SigOutsFeatureInit(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint16_t,
                             const std::vector<Feature*>& items, int count) {
    return GroupCheckBlocks(items, count, 2, RepsRelation::Equal);
}

QV_STATUS SigOutsFeatureLink(DeviceAccess&, const TreeNode::Ptr&, const std::vector<int>&, int) { return QV_NO_ERROR; }

}  // namespace tarnix
