#include "groups/Scopes.h"

#include "groups/BlockChecks.h"

namespace tarnix {

// The scopes' nodes are not built yet: the group shows its root node only.
QV_STATUS ScopesFeatureInit(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint16_t,
                            const std::vector<Feature*>& items, int count) {
    return GroupCheckBlocks(items, count, 2, RepsRelation::Equal);
}

}  // namespace tarnix
