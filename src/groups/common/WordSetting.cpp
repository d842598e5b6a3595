#include "groups/common/WordSetting.h"

#include "engine/RegisterHandlers.h"
#include "groups/common/RegisterImage.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"

namespace tarnix {

QV_STATUS ReplyWordAsDouble(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                            ShownDouble shown) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, shown(storedWord(*ep)));
}

QV_STATUS ReplyWordAsInteger(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                             ShownInteger shown) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, shown(storedWord(*ep)));
}

QV_STATUS StoreWordReplyDouble(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                               uint32_t word, ShownDouble shown) {
    bool changed = false;
    if (QV_STATUS s = storeWordAndMark(device, *ep, word, changed)) return s;
    return replyDouble(device, *ep, seq, session, writeReplyFlags(changed), shown(storedWord(*ep)));
}

QV_STATUS StoreWordReplyInteger(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                uint32_t word, ShownInteger shown) {
    bool changed = false;
    if (QV_STATUS s = storeWordAndMark(device, *ep, word, changed)) return s;
    return replyInteger(device, *ep, seq, session, writeReplyFlags(changed), shown(storedWord(*ep)));
}

QV_STATUS PushNewWordAsDouble(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length,
                              ShownDouble shown) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    return changed ? pushDouble(device, ep->epId, shown(word)) : QV_NO_ERROR;
}

QV_STATUS PushNewWordAsInteger(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length,
                               ShownInteger shown) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    return changed ? pushInteger(device, ep->epId, shown(word)) : QV_NO_ERROR;
}

}  // namespace tarnix
