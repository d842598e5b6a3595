#include "groups/DemodsRate.h"

#include "platform/endian/ByteOrder.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/TimeConstant.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordSetting.h"

#include <algorithm>
#include <cmath>

namespace tarnix {

namespace {

constexpr double kClockBase = 210000000.0;
constexpr double kClocksPerSample = 114.0;
constexpr double kStoppedDividerRate = 16777214.0;  // what a divider of 0 reads as
constexpr double kDividerMax = 16777215.0;
constexpr uint32_t kLargestDivider = 1u << 23;
constexpr uint32_t kDividerMask = 0xFFFFFF;
constexpr int kTriggerShift = 24;
constexpr int64_t kTriggerMax = 255;

// Positions in the byte buffers of RATE and TRIGGER.
constexpr std::size_t kRateLink = 0;
constexpr std::size_t kTriggerLink = 1;

uint32_t largestPowerOfTwoNotAbove(uint32_t q) {
    uint32_t p = 1;
    while (p <= q / 2) p <<= 1;
    return p;
}

}  // namespace

double DemodRateOfDivider(uint32_t divider) {
    if ((divider & kDividerMask) == kDividerMask) return 0.0;
    if (divider == 0) return kStoppedDividerRate;
    return kClockBase / (double(divider) * kClocksPerSample);
}

uint32_t DemodDividerOfRate(double rate) {
    if (!(rate > 0.0)) return kDemodRateOff;  // also NaN
    // Limited in double first: a tiny rate gives an infinite quotient.
    double q = std::floor(kClockBase / (rate * kClocksPerSample));
    q = std::min(std::max(q, 1.0), kDividerMax);
    const uint32_t p = largestPowerOfTwoNotAbove(uint32_t(q));
    if (p >= kLargestDivider) return p;
    // The nearer of the two rates around `rate`; a tie keeps the higher rate.
    return rate - DemodRateOfDivider(2 * p) < DemodRateOfDivider(p) - rate ? 2 * p : p;
}

QV_STATUS DemodTimeConstantReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsDouble(device, ep, seq, session, FromTC);
}

QV_STATUS DemodTimeConstantUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                      uint32_t length) {
    return PushNewWordAsDouble(device, ep, data, length, FromTC);
}

QV_STATUS DemodRateReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsDouble(device, ep, seq, session, DemodRateOfDivider);
}

QV_STATUS DemodRateWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                               double value, int64_t) {
    return StoreWordReplyDouble(device, ep, seq, session, DemodDividerOfRate(value), DemodRateOfDivider);
}

QV_STATUS DemodRateWriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address) {
    const EPNodePtr trigger = LinkedEndpoint(device, *ep, kTriggerLink);
    if (!trigger) return QV_VALUE_NOT_FOUND;
    const uint32_t triggerBits = storedWord(*trigger);
    uint32_t divider = storedWord(*ep);
    if (triggerBits & kDemodEdgeTriggers) divider = kDemodRateOff;
    if (address == 0) return QV_NO_ERROR;
    queueRegisterWord(device, address, (triggerBits << kTriggerShift) | (divider & kDividerMask));
    return QV_NO_ERROR;
}

QV_STATUS DemodRateUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    if (!data || length < 4) return QV_BUFFER_TOO_SMALL;
    const EPNodePtr rate = LinkedEndpoint(device, *ep, kRateLink);
    const EPNodePtr trigger = LinkedEndpoint(device, *ep, kTriggerLink);
    if (!rate || !trigger) return QV_VALUE_NOT_FOUND;
    const uint32_t word = le::get32(data);
    const uint32_t divider = word & kDividerMask;
    const uint32_t triggerBits = word >> kTriggerShift;
    const uint32_t before = storedWord(*trigger);
    if (triggerBits != before) {
        storeWord(*trigger, triggerBits);
        if (QV_STATUS s = pushInteger(device, trigger->epId, triggerBits)) return s;
    }
    // While an edge trigger was set the instrument reports the off divider;
    // RATE keeps the client's rate then.
    if ((before & kDemodEdgeTriggers) || divider == storedWord(*rate)) return QV_NO_ERROR;
    storeWord(*rate, divider);
    return pushDouble(device, rate->epId, DemodRateOfDivider(divider));
}

QV_STATUS DemodTriggerReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY,
                        std::min<int64_t>(storedWord(*ep), kTriggerMax));
}

QV_STATUS DemodTriggerWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                                  int64_t integer) {
    if (ep->value.size() < 4) return QV_BUFFER_TOO_SMALL;
    const uint32_t bits = uint32_t(std::clamp<int64_t>(integer, 0, kTriggerMax));
    const bool changed = bits != storedWord(*ep);
    if (changed) storeWord(*ep, bits);
    // The trigger bits travel in the RATE word.
    if (QV_STATUS s = DeviceStateEPNodesMarkWrite(stateOf(device).epNodes, LinkedEndpointId(*ep, kRateLink)))
        return s;
    return replyInteger(device, *ep, seq, session, writeReplyFlags(changed), bits);
}

}  // namespace tarnix
