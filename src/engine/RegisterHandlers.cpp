#include "engine/RegisterHandlers.h"

#include "platform/endian/ByteOrder.h"
#include "core/ValueRecord.h"
#include "core/fifo/QVFifo.h"
#include "engine/DeviceState.h"

namespace tarnix {

uint32_t storedWord(const DeviceStateEPNode& ep) { return ep.value.size() >= 4 ? le::get32(ep.value.data()) : 0; }

void storeWord(DeviceStateEPNode& ep, uint32_t word) {
    if (ep.value.size() >= 4) le::put32(ep.value.data(), word);
}

QV_STATUS DeviceStateEPWriteRegisters(DeviceAccess& device, const EPNodePtr& ep, uint32_t address) {
    if (!ep->hasValue()) return QV_BUFFER_TOO_SMALL;
    if (address == 0) return QV_NO_ERROR;
    queueRegisterWrite(device, address, ep->value.data(), ep->valueSize);
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateEPRequestRegisters(DeviceAccess& device, const EPNodePtr& ep, uint32_t address) {
    if (!ep->hasValue()) return QV_BUFFER_TOO_SMALL;
    if (address == 0) return QV_NO_ERROR;
    device.queueRequestData(address, ep->valueSize);
    return QV_NO_ERROR;
}

namespace {

int64_t invertedClientValue(uint32_t word) { return word == 0 ? 1 : 0; }

}  // namespace

QV_STATUS InvertedBooleanReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReturnParamValueInteger(outputOf(device), seq, session, uint32_t(ep->epId), VALUE_FLAG_REPLY_ONLY,
                                   invertedClientValue(storedWord(*ep)));
}

QV_STATUS InvertedBooleanWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double, int64_t integer) {
    if (!ep->hasValue() || ep->valueSize < 4) return QV_BUFFER_TOO_SMALL;
    const uint32_t word = integer == 0 ? 1 : 0;
    const bool changed = word != storedWord(*ep);
    storeWord(*ep, word);
    if (QV_STATUS s = DeviceStateEPNodesMarkWrite(stateOf(device).epNodes, ep->epId)) return s;
    return ReturnParamValueInteger(outputOf(device), seq, session, uint32_t(ep->epId),
                                   changed ? VALUE_FLAG_CHANGED : VALUE_FLAG_REPLY_ONLY, invertedClientValue(word));
}

QV_STATUS InvertedBooleanUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                    uint32_t length) {
    if (length < 4 || !ep->hasValue() || ep->valueSize < 4) return QV_BUFFER_TOO_SMALL;
    const uint32_t word = le::get32(data);
    if (word == storedWord(*ep)) return QV_NO_ERROR;
    storeWord(*ep, word);
    return ReturnParamValueInteger(outputOf(device), kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                   uint32_t(ep->epId), VALUE_FLAG_CHANGED, invertedClientValue(word));
}

}  // namespace tarnix
