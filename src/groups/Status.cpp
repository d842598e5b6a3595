#include "groups/Status.h"

#include "groups/BlockChecks.h"

namespace tarnix {

// The status word's nodes are not built yet: the group shows its root node only.
QV_STATUS StatusFeatureInit(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint16_t,
                            const std::vector<Feature*>& items, int count) {
    return GroupCheckBlocks(items, count, 1);
}

}  // namespace tarnix
