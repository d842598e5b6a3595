#include "groups/common/RegisterImage.h"

#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"

namespace tarnix {

QV_STATUS storeWordAndMark(DeviceAccess& device, DeviceStateEPNode& ep, uint32_t word, bool& changed) {
    changed = false;
    if (ep.value.size() < 4) return QV_BUFFER_TOO_SMALL;
    changed = storedWord(ep) != word;
    if (changed) storeWord(ep, word);
    return DeviceStateEPNodesMarkWrite(stateOf(device).epNodes, ep.epId);
}

QV_STATUS storeWord64AndMark(DeviceAccess& device, DeviceStateEPNode& ep, uint64_t word, bool& changed) {
    changed = false;
    if (ep.value.size() < 8) return QV_BUFFER_TOO_SMALL;
    changed = storedWord64(ep) != word;
    if (changed) storeWord64(ep, word);
    return DeviceStateEPNodesMarkWrite(stateOf(device).epNodes, ep.epId);
}

QV_STATUS ReceiveWord64(DeviceStateEPNode& ep, const uint8_t* data, uint32_t length, uint64_t& word, bool& changed) {
    changed = false;
    word = 0;
    if (!data || length < 8 || ep.value.size() < 8) return QV_BUFFER_TOO_SMALL;
    word = le::get64(data);
    changed = word != storedWord64(ep);
    if (changed) storeWord64(ep, word);
    return QV_NO_ERROR;
}

}  // namespace tarnix
