#include "groups/AuxIns.h"

#include "groups/BlockChecks.h"

namespace tarnix {

// The auxiliary inputs' nodes are not built yet: the group shows its root node only.
QV_STATUS AuxInsFeatureInit(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint16_t,
                            const std::vector<Feature*>& items, int count) {
    return GroupCheckBlocks(items, count, 2, RepsRelation::Twice);
}

}  // namespace tarnix
