#include "platform/endian/ByteOrder.h"
#include "core/ValueRecord.h"
#include "engine/DeviceState.h"
#include "engine/MessageHandling.h"
#include "engine/RootNodes.h"

namespace tarnix {

namespace {

double storedDouble(const DeviceStateEPNode& ep) { return ep.value.size() >= 8 ? le::getDouble(ep.value.data()) : 0.0; }

QV_STATUS pushStat(DeviceAccess& device, DeviceStateEPNode& ep, double value) {
    QV_STATUS s = ReturnParamValueDouble(outputOf(device), kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                         uint32_t(ep.epId), VALUE_FLAG_CHANGED, value);
    if (s == QV_NO_ERROR) le::putDouble(ep.value.data(), value);
    return s;
}

bool isStatsEndpoint(const DeviceStateEPNode& ep) { return ep.value.size() >= 8; }

}  // namespace

QV_STATUS ClockBaseReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReturnParamValueInteger(outputOf(device), seq, session, uint32_t(ep->epId), VALUE_FLAG_REPLY_ONLY,
                                   kClockBaseHz);
}

QV_STATUS StatsReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReturnParamValueDouble(outputOf(device), seq, session, uint32_t(ep->epId), VALUE_FLAG_REPLY_ONLY,
                                  storedDouble(*ep));
}

QV_STATUS StatsUpdateOnChange(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    if (length != 8 || !isStatsEndpoint(*ep)) return QV_BUFFER_TOO_SMALL;
    const double value = le::getDouble(data);
    if (!(value != storedDouble(*ep))) return QV_NO_ERROR;  // a NaN always counts as changed
    return pushStat(device, *ep, value);
}

QV_STATUS StatsUpdate(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    if (length != 8 || !isStatsEndpoint(*ep)) return QV_BUFFER_TOO_SMALL;
    return pushStat(device, *ep, le::getDouble(data));
}

QV_STATUS RawAddressReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReturnParamValueInteger(outputOf(device), seq, session, uint32_t(ep->epId), VALUE_FLAG_REPLY_ONLY,
                                   int64_t(stateOf(device).rawListenAddress));
}

QV_STATUS RawAddressWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                                int64_t integer) {
    DeviceState& state = stateOf(device);
    const uint32_t address = uint32_t(uint64_t(integer));
    const bool changed = address != state.rawListenAddress || (uint64_t(integer) >> 32) != 0;
    state.rawListenAddress = address;
    return ReturnParamValueInteger(outputOf(device), seq, session, uint32_t(ep->epId),
                                   changed ? VALUE_FLAG_CHANGED : VALUE_FLAG_REPLY_ONLY, integer);
}

QV_STATUS RawRequestWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                                int64_t integer) {
    // The request frame carries the length in whole words; a length that leaves
    // no word, or that no device message could answer, is refused.
    const uint32_t length = uint32_t(uint64_t(integer));
    if ((length & ~3u) == 0 || length > kDeviceMessageBufferBytes) return QV_BUFFER_TOO_SMALL;
    device.queueRequestData(stateOf(device).rawListenAddress, length);
    return ReturnParamValueInteger(outputOf(device), seq, session, uint32_t(ep->epId), VALUE_FLAG_CHANGED, integer);
}

QV_STATUS RawDataUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return ReturnParamValueByteArray(outputOf(device), kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                     uint32_t(ep->epId), VALUE_FLAG_CHANGED, data, length);
}

QV_STATUS RawWriteBytes(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                        const uint8_t* bytes, uint32_t length) {
    // The first word is the register address; the payload after it must be whole
    // words, or the write frame would put the instrument out of step.
    if (length <= 4 || (length - 4) % 4 != 0) return QV_BUFFER_TOO_SMALL;
    queueRegisterWrite(device, le::get32(bytes), bytes + 4, length - 4);
    return ReturnParamValueInteger(outputOf(device), seq, session, uint32_t(ep->epId), VALUE_FLAG_REPLY_ONLY,
                                   int64_t(length));
}

}  // namespace tarnix
