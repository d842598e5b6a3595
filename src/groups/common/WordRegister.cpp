#include "groups/common/WordRegister.h"

#include "platform/endian/ByteOrder.h"
#include "engine/DeviceStateEPNode.h"
#include "engine/RegisterHandlers.h"

namespace tarnix {

namespace {

constexpr uint32_t kWordBytes = 4;

bool holdsWord(const DeviceStateEPNode& ep) { return ep.hasValue() && ep.valueSize >= kWordBytes; }

}  // namespace

QV_STATUS ReceiveWord(DeviceStateEPNode& ep, const uint8_t* data, uint32_t length, uint32_t& word, bool& changed) {
    changed = false;
    word = 0;
    if (!data || length < kWordBytes || !holdsWord(ep)) return QV_BUFFER_TOO_SMALL;
    word = le::get32(data);
    changed = word != storedWord(ep);
    if (changed) storeWord(ep, word);
    return QV_NO_ERROR;
}

}  // namespace tarnix
