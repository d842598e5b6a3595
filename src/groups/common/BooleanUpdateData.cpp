#include "groups/common/BooleanUpdateData.h"

#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"

namespace tarnix {

QV_STATUS BooleanUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (!changed) return QV_NO_ERROR;
    return pushInteger(device, ep->epId, word != 0 ? 1 : 0);
}

}  // namespace tarnix
