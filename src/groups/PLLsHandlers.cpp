#include "groups/PLLsHandlers.h"

#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "engine/SaturatingCast.h"
#include "groups/Demods.h"
#include "groups/common/PhaseIncrement.h"
#include "groups/common/RegisterImage.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"
#include "groups/common/WordSetting.h"
#include "groups/data/GroupFamilyData.h"

#include <algorithm>
#include <cmath>

namespace tarnix {

namespace {

constexpr double kFrequencyMax = 1e8;
constexpr double kClockBase = 210000000.0;
constexpr double kTwoPow48 = 281474976710656.0;
constexpr double kTwoPowMinus48 = 3.552713678800501e-15;
constexpr double kHalfClockPeriod = 2.380952380952381e-09;  // 1 / 420e6

constexpr uint32_t kErrorMask = 0x3FFFF;
constexpr uint32_t kErrorSign = 0x20000;
constexpr double kErrorStep = 0.00274658203125;  // 180 / 65536

constexpr uint64_t kDeltaMask = 0xFFFFFFFFFFFFull;
constexpr uint64_t kDeltaSign = 0x800000000000ull;

constexpr uint32_t kThresholdMask = 0x1FFF;
constexpr uint32_t kThresholdSign = 0x1000;
constexpr int64_t kThresholdMin = -4096;
constexpr int64_t kThresholdMax = 4095;

constexpr uint32_t kAuxAvgMaxExponent = 7;

constexpr double kSetpointLimit = 180.0;
constexpr double kSetpointFullScale = 65535.0;  // steps of 180 degrees
constexpr double kInverseFullScale = 1.5259021896696422e-05;  // 1 / 65535
constexpr double kInverseLimit = 0.005555555555555556;  // 1 / 180

int64_t signExtend(uint64_t value, uint64_t mask, uint64_t sign) {
    const uint64_t field = value & mask;
    return (field & sign) ? int64_t(field) - int64_t(mask) - 1 : int64_t(field);
}

// A frequency limited to 0 .. 1e8 Hz; NaN passes (the handlers keep the
// setting for a NaN before they get here).
double limitFrequency(double hertz) { return std::min(std::max(hertz, 0.0), kFrequencyMax); }

QV_STATUS receiveDouble64(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length,
                          double (*shown)(uint64_t)) {
    uint64_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord64(*ep, data, length, word, changed)) return s;
    return changed ? pushDouble(device, ep->epId, shown(word)) : QV_NO_ERROR;
}

QV_STATUS readDouble(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double value) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, value);
}

}  // namespace

double PllFreqRangeOf(uint64_t word) { return double(word) * 2 * kClockBase * kTwoPowMinus48; }

uint64_t PllFreqRangeWord(double hertz) {
    return saturatingCast<uint64_t>(limitFrequency(hertz) * kTwoPow48 * kHalfClockPeriod);
}

double PllErrorOf(uint32_t word) { return double(signExtend(word, kErrorMask, kErrorSign)) * kErrorStep; }

double PllFreqDeltaOf(uint64_t word) {
    return double(signExtend(word, kDeltaMask, kDeltaSign)) * kClockBase * kTwoPowMinus48;
}

int64_t PllThresholdOf(uint32_t word) { return signExtend(word, kThresholdMask, kThresholdSign); }

uint32_t PllThresholdWord(int64_t threshold) {
    return uint32_t(std::clamp(threshold, kThresholdMin, kThresholdMax)) & kThresholdMask;
}

int64_t PllAuxAvgOf(uint32_t word) { return int64_t(1) << std::min(word, kAuxAvgMaxExponent); }

uint32_t PllAuxAvgWord(int64_t count) {
    if (count <= 0) return 0;
    const double exponent = std::trunc(std::log(double(count)) / std::log(2.0));
    return exponent > kAuxAvgMaxExponent ? kAuxAvgMaxExponent : uint32_t(exponent);
}

double PllSetpointOf(uint32_t word) { return double(int32_t(word)) * kSetpointLimit * kInverseFullScale; }

uint32_t PllSetpointWord(double degrees) {
    const double limited = std::min(std::max(degrees, -kSetpointLimit), kSetpointLimit);
    return uint32_t(saturatingCast<int32_t>(limited * kSetpointFullScale * kInverseLimit));
}

int64_t PllShownInput(const DeviceState& state, uint32_t word) {
    return int64_t(uint32_t(std::min<int64_t>(word, DemodInputCount(state) - 1)));
}

uint32_t PllInputWord(const DeviceState& state, int64_t input) {
    const int64_t last = DemodInputCount(state) - 1;
    return uint32_t(std::min(std::max<int64_t>(input, 0), last));
}

QV_STATUS PLLADCSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                                  int64_t integer) {
    const DeviceState& state = stateOf(device);
    bool changed = false;
    if (QV_STATUS s = storeWordAndMark(device, *ep, PllInputWord(state, integer), changed)) return s;
    return replyInteger(device, *ep, seq, session, writeReplyFlags(changed), PllShownInput(state, storedWord(*ep)));
}

QV_STATUS PLLADCSelectReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    return changed ? pushInteger(device, ep->epId, PllShownInput(stateOf(device), word)) : QV_NO_ERROR;
}

QV_STATUS PLLFreqCenterWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                   double value, int64_t) {
    const uint16_t version = familyDataOf(stateOf(device)).controlLoop.pllFeatureVersion;
    if ((version != 2 && version != 3) || std::isnan(value))
        return replyValueInForce(device, *ep, seq, session, FromPhaseIncrement(storedWord64(*ep)));
    const double hertz = limitFrequency(value);
    // At the upper limit the register is truncated so that it stays within 1e8 Hz.
    const PhaseRounding rounding = hertz < kFrequencyMax ? PhaseRounding::Nearest : PhaseRounding::Truncate;
    bool changed = false;
    if (QV_STATUS s = storeWord64AndMark(device, *ep, ToPhaseIncrement(hertz, rounding), changed)) return s;
    return replyDouble(device, *ep, seq, session, writeReplyFlags(changed), FromPhaseIncrement(storedWord64(*ep)));
}

QV_STATUS PLLFreqRangeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return readDouble(device, ep, seq, session, PllFreqRangeOf(storedWord64(*ep)));
}

QV_STATUS PLLFreqRangeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t) {
    if (std::isnan(value)) return replyValueInForce(device, *ep, seq, session, PllFreqRangeOf(storedWord64(*ep)));
    bool changed = false;
    if (QV_STATUS s = storeWord64AndMark(device, *ep, PllFreqRangeWord(value), changed)) return s;
    return replyDouble(device, *ep, seq, session, writeReplyFlags(changed), PllFreqRangeOf(storedWord64(*ep)));
}

QV_STATUS PLLFreqRangeReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return receiveDouble64(device, ep, data, length, PllFreqRangeOf);
}

QV_STATUS PLLErrorReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsDouble(device, ep, seq, session, PllErrorOf);
}

QV_STATUS PLLErrorReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    storeWord(*ep, word & kErrorMask);
    return pushDouble(device, ep->epId, PllErrorOf(word));
}

QV_STATUS PLLFreqDeltaReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return readDouble(device, ep, seq, session, PllFreqDeltaOf(storedWord64(*ep)));
}

QV_STATUS PLLFreqDeltaReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return receiveDouble64(device, ep, data, length, PllFreqDeltaOf);
}

QV_STATUS PLLADCThresholdReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsInteger(device, ep, seq, session, PllThresholdOf);
}

QV_STATUS PLLADCThresholdWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double, int64_t integer) {
    return StoreWordReplyInteger(device, ep, seq, session, PllThresholdWord(integer), PllThresholdOf);
}

QV_STATUS PLLADCThresholdReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                      uint32_t length) {
    return PushNewWordAsInteger(device, ep, data, length, PllThresholdOf);
}

QV_STATUS PLLAuxAvgReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsInteger(device, ep, seq, session, PllAuxAvgOf);
}

QV_STATUS PLLAuxAvgWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                               int64_t integer) {
    return StoreWordReplyInteger(device, ep, seq, session, PllAuxAvgWord(integer), PllAuxAvgOf);
}

QV_STATUS PLLAuxAvgReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return PushNewWordAsInteger(device, ep, data, length, PllAuxAvgOf);
}

QV_STATUS PLLSetpointReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsDouble(device, ep, seq, session, PllSetpointOf);
}

QV_STATUS PLLSetpointWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                 double value, int64_t) {
    if (std::isnan(value)) return replyValueInForce(device, *ep, seq, session, PllSetpointOf(storedWord(*ep)));
    return StoreWordReplyDouble(device, ep, seq, session, PllSetpointWord(value), PllSetpointOf);
}

QV_STATUS PLLSetpointReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return PushNewWordAsDouble(device, ep, data, length, PllSetpointOf);
}

}  // namespace tarnix
