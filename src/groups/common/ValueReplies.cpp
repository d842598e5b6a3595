#include "groups/common/ValueReplies.h"

#include "engine/DeviceAccess.h"
#include "engine/DeviceStateEPNode.h"

namespace tarnix {

QV_STATUS replyInteger(DeviceAccess& device, const DeviceStateEPNode& ep, uint16_t seq, uint16_t session,
                       uint16_t flags, int64_t value) {
    return ReturnParamValueInteger(outputOf(device), seq, session, uint32_t(ep.epId), flags, value);
}

QV_STATUS replyDouble(DeviceAccess& device, const DeviceStateEPNode& ep, uint16_t seq, uint16_t session,
                      uint16_t flags, double value) {
    return ReturnParamValueDouble(outputOf(device), seq, session, uint32_t(ep.epId), flags, value);
}

QV_STATUS pushInteger(DeviceAccess& device, int32_t epId, int64_t value) {
    return ReturnParamValueInteger(outputOf(device), kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                   uint32_t(epId), VALUE_FLAG_CHANGED, value);
}

QV_STATUS pushDouble(DeviceAccess& device, int32_t epId, double value) {
    return ReturnParamValueDouble(outputOf(device), kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                  uint32_t(epId), VALUE_FLAG_CHANGED, value);
}

}  // namespace tarnix
