// PID registers other than the control register: single-precision settings
// and readings, the set-point source, the control rate and TipProtect.
#include "groups/PIDsHandlers.h"

#include "platform/endian/ByteOrder.h"
#include "core/ClientNumbers.h"
#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/RegisterImage.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"
#include "groups/common/WordSetting.h"
#include "groups/data/GroupFamilyData.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tarnix {

namespace {

constexpr double kRateUpdates = 5000.0;
constexpr double kClockPeriod = 4.761904761904762e-09;  // 1 / 210e6
constexpr uint32_t kSetPointSelectMax = 3;
constexpr uint32_t kTipEnableBit = 0x80000000u;
constexpr int kTipPllShift = 27;
constexpr uint32_t kTipPllMask = 0xF;
constexpr uint32_t kStrobeValue = 1;

// The single held in a register word, widened.
double singleValue(uint32_t word) {
    float f;
    std::memcpy(&f, &word, sizeof f);
    return f;
}

int64_t setPointSource(uint32_t word) { return std::min(word, kSetPointSelectMax); }

uint32_t wordOf(float f) {
    uint32_t word;
    std::memcpy(&word, &f, sizeof word);
    return word;
}

// The single nearest to the client's double. A finite value beyond the
// single range saturates at its largest magnitude (converting it would be
// undefined).
float nearestSingle(double value) {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (std::isfinite(value) && std::fabs(value) > kMax) return value > 0 ? float(kMax) : -float(kMax);
    return float(value);
}

uint32_t tipEnableOf(uint32_t word) { return (word & kTipEnableBit) ? 1 : 0; }

// Bits 27-30 of the TipProtect control word; the log shows them with the enable bit.
uint32_t fromTipProtectPLL(uint32_t word) {
    QVLOG(logging::debug) << __PRETTY_FUNCTION__ << ", value=" << (word >> kTipPllShift);
    return (word >> kTipPllShift) & kTipPllMask;
}

// A PLL index limited to the PLLs the instrument has (when it has any).
int64_t limitPll(const DeviceState& state, int64_t pll) {
    const int64_t count = familyDataOf(state).shared.pllCount;
    if (count >= 1 && pll > count - 1) return count - 1;
    return pll;
}

EPNodePtr tipProtectHolder(DeviceAccess& device, const DeviceStateEPNode& ep) {
    return LinkedEndpoint(device, ep, kPidTipListEnable);
}

uint32_t tipProtectWord(DeviceAccess& device, const DeviceStateEPNode& ep) {
    const EPNodePtr holder = tipProtectHolder(device, ep);
    return holder ? storedWord(*holder) : 0;
}

// Stores the TipProtect control word and marks it for writing, changed or not.
QV_STATUS storeTipProtectWord(DeviceAccess& device, const DeviceStateEPNode& ep, uint32_t word) {
    const EPNodePtr holder = tipProtectHolder(device, ep);
    if (!holder) return QV_VALUE_NOT_FOUND;
    bool changed = false;
    return storeWordAndMark(device, *holder, word, changed);
}

}  // namespace

double PidRateOfCount(uint32_t count) { return kRateUpdates / (double(count) * kClockPeriod); }

QV_STATUS PIDWriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address) {
    if (QV_STATUS s = DeviceStateEPWriteRegisters(device, ep, address)) return s;
    const DeviceState& state = stateOf(device);
    if (state.pidStrobeAddress != 0 && state.pidStrobeEnable)
        queueRegisterWord(device, state.pidStrobeAddress, kStrobeValue);
    return QV_NO_ERROR;
}

QV_STATUS PIDFloatReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsDouble(device, ep, seq, session, singleValue);
}

QV_STATUS PIDFloatWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                              double value, int64_t) {
    // A gain or level without a range: an infinity is no value to clamp.
    if (!std::isfinite(value)) return kRefusedValueStatus;
    return StoreWordReplyDouble(device, ep, seq, session, wordOf(nearestSingle(value)), singleValue);
}

QV_STATUS PIDFloatUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return PushNewWordAsDouble(device, ep, data, length, singleValue);
}

QV_STATUS PIDSetPointSelectUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                      uint32_t length) {
    return PushNewWordAsInteger(device, ep, data, length, setPointSource);
}

QV_STATUS PIDRateReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY,
                       familyDataOf(stateOf(device)).controlLoop.pidRate);
}

QV_STATUS PIDRateUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (!changed) return QV_NO_ERROR;
    DeviceState& state = stateOf(device);
    ControlLoopData& loops = familyDataOf(state).controlLoop;
    loops.pidRate = PidRateOfCount(word);
    for (int32_t id : loops.pidRateEndpoints) {
        if (!DeviceStateEPNodesFind(state.epNodes, id)) continue;
        if (QV_STATUS s = pushDouble(device, id, loops.pidRate)) return s;
    }
    return QV_NO_ERROR;
}

QV_STATUS PIDTipProtectEnableReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, tipEnableOf(tipProtectWord(device, *ep)));
}

QV_STATUS PIDTipProtectPLLReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY,
                        fromTipProtectPLL(tipProtectWord(device, *ep)));
}

QV_STATUS PIDTipProtectEnableWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq,
                                         uint16_t session, double, int64_t integer) {
    const uint32_t before = tipProtectWord(device, *ep);
    const int64_t pll = limitPll(stateOf(device), fromTipProtectPLL(before));
    // The instrument's report bits (0-26) are cleared by every write.
    const uint32_t after = (integer != 0 ? kTipEnableBit : 0) | (uint32_t(pll) & kTipPllMask) << kTipPllShift;
    if (QV_STATUS s = storeTipProtectWord(device, *ep, after)) return s;
    return replyInteger(device, *ep, seq, session, writeReplyFlags(after != before), tipEnableOf(after));
}

QV_STATUS PIDTipProtectPLLWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double, int64_t integer) {
    const uint32_t before = tipProtectWord(device, *ep);
    const int64_t pll = limitPll(stateOf(device), std::max<int64_t>(integer, 0));
    const uint32_t after = (before & kTipEnableBit) | (uint32_t(pll) & kTipPllMask) << kTipPllShift;
    if (QV_STATUS s = storeTipProtectWord(device, *ep, after)) return s;
    fromTipProtectPLL(after);
    return replyInteger(device, *ep, seq, session, writeReplyFlags(after != before),
                        (after >> kTipPllShift) & kTipPllMask);
}

QV_STATUS PIDTipProtectEnableUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                        uint32_t length) {
    if (!data || length < 4 || ep->value.size() < 4) return QV_BUFFER_TOO_SMALL;
    const uint32_t before = storedWord(*ep);
    const uint32_t after = le::get32(data);
    const uint32_t oldEnable = tipEnableOf(before);
    const uint32_t newEnable = tipEnableOf(after);
    const uint32_t oldPll = fromTipProtectPLL(before);
    const uint32_t newPll = fromTipProtectPLL(after);
    QVLOG(logging::debug) << "oldEnable=" << oldEnable << ", newEnable=" << newEnable;
    QVLOG(logging::debug) << "oldPLL=" << oldPll << ", newPLL=" << newPll;
    storeWord(*ep, after);
    if (oldEnable != newEnable) {
        const int32_t id = LinkedEndpointId(*ep, kPidTipListEnable);
        if (id >= 0)
            if (QV_STATUS s = pushInteger(device, id, newEnable)) return s;
    }
    const int32_t pllId = LinkedEndpointId(*ep, kPidTipListPll);
    if (oldPll == newPll || pllId < 0) return QV_NO_ERROR;
    return pushInteger(device, pllId, newPll);
}

QV_STATUS PIDTipProtectActiveReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    const int32_t controller = ep->instance;
    QVLOG(logging::debug) << __PRETTY_FUNCTION__ << ", instance=" << controller;
    const EPNodePtr holder = LinkedEndpoint(device, *ep, 0);
    const uint32_t status = holder ? storedWord(*holder) : 0;
    const bool inRange = controller >= 0 && controller < int32_t(kPidActiveListSize);
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, inRange ? (status >> controller) & 1u : 0);
}

QV_STATUS PIDTipProtectActiveUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                        uint32_t length) {
    if (!data || length < 4 || ep->value.size() < 4) return QV_BUFFER_TOO_SMALL;
    const uint32_t before = storedWord(*ep);
    const uint32_t after = le::get32(data);
    for (std::size_t k = 0; k < kPidActiveListSize; ++k) {
        const int32_t id = LinkedEndpointId(*ep, k);
        const uint32_t bit = (after >> k) & 1u;
        if (id == -1 || bit == ((before >> k) & 1u)) continue;
        // The word is stored only once every change went out, so a lost push
        // is repeated with the next report.
        if (QV_STATUS s = pushInteger(device, id, bit)) return s;
    }
    storeWord(*ep, after);
    return QV_NO_ERROR;
}

}  // namespace tarnix
