#include "groups/common/CommonHandlers.h"

#include "core/tree/Endpoint.h"
#include "engine/RegisterHandlers.h"
#include "groups/common/ValueReplies.h"

#include <algorithm>

namespace tarnix {

QV_STATUS BooleanReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, storedWord(*ep) != 0 ? 1 : 0);
}

QV_STATUS IntegerReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, int64_t(storedWord(*ep)));
}

QV_STATUS ClampTo3ReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, int64_t(std::min(storedWord(*ep), 3u)));
}

EPNodePtr FindChildEPByType(const DeviceStateEPNodes& nodes, const TreeNode::Ptr& parent, int typeId) {
    if (!parent) return EPNodePtr();
    for (const TreeNode::Ptr& child : parent->children()) {
        if (!child || child->nodeTypeId() != typeId || !child->endpoint()) continue;
        return DeviceStateEPNodesFind(nodes, child->endpoint()->id);
    }
    return EPNodePtr();
}

}  // namespace tarnix
