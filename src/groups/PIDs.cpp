#include "groups/PIDs.h"

#include "groups/BlockChecks.h"

namespace tarnix {

// The PID controllers' nodes are not built yet: the group shows its root node only.
QV_STATUS PIDsFeatureInit(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint16_t,
                          const std::vector<Feature*>& items, int count) {
    return GroupCheckBlocks(items, count, 3);
}

}  // namespace tarnix
