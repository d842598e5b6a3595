#include "groups/System.h"

#include "groups/BlockChecks.h"

namespace tarnix {

// The system nodes are not built yet: the group shows its root node only.
QV_STATUS SystemFeatureInit(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint16_t,
                            const std::vector<Feature*>& items, int count) {
    return GroupCheckBlocks(items, count, 1);
}

}  // namespace tarnix
