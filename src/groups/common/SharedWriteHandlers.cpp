#include "groups/common/SharedWriteHandlers.h"

#include "groups/common/RegisterImage.h"
#include "groups/common/ValueReplies.h"

#include <algorithm>

namespace tarnix {

namespace {

constexpr int64_t kClampTo3Max = 3;

QV_STATUS storeMarkAndReply(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, uint32_t word,
                            int64_t shown) {
    bool changed = false;
    if (QV_STATUS s = storeWordAndMark(device, *ep, word, changed)) return s;
    return replyInteger(device, *ep, seq, session, writeReplyFlags(changed), shown);
}

}  // namespace

QV_STATUS BooleanWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                             int64_t integer) {
    const uint32_t word = integer != 0 ? 1 : 0;
    return storeMarkAndReply(device, ep, seq, session, word, word);
}

QV_STATUS ClampTo3WriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                              int64_t integer) {
    const uint32_t word = uint32_t(std::clamp<int64_t>(integer, 0, kClampTo3Max));
    return storeMarkAndReply(device, ep, seq, session, word, std::min<int64_t>(word, kClampTo3Max));
}

}  // namespace tarnix
