#include "groups/KCtrls.h"

namespace tarnix {

// The KCtrl ports are not probed yet: the group shows its root node only.
QV_STATUS LQ3ReadFeaturesKCtrl(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint16_t, const char*,
                               const uint8_t*, uint32_t) {
    return QV_NO_ERROR;
}

}  // namespace tarnix
