#include "groups/Demods.h"

#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "engine/SaturatingCast.h"
#include "groups/AuxOutsScale.h"
#include "groups/Oscs.h"
#include "groups/common/RegisterImage.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"
#include "groups/common/WordSetting.h"
#include "groups/data/GroupFamilyData.h"

#include <algorithm>
#include <cmath>

namespace tarnix {

namespace {

constexpr int64_t kOrderMax = 8;
constexpr uint32_t kHarmonicUnit = 0x80;
constexpr int kHarmonicShift = 7;
constexpr uint32_t kHarmonicWordMax = 0x1FFFF;
constexpr int64_t kHarmonicMax = int64_t(kHarmonicWordMax >> kHarmonicShift);  // 1023
constexpr int64_t kNarrowHarmonicMax = 2;
constexpr double kPhaseStepsPerDegree = 46603.375;  // 16777215 / 360
constexpr double kFullTurn = 360.0;
constexpr double kHalfTurn = 180.0;

// The demodulator's index: the instance of its settings block.
uint32_t demodOf(const DeviceStateEPNode& ep) { return ep.instance < 0 ? 0 : uint32_t(ep.instance); }

// The input or oscillator that demodulators of feature-list Version <= 1 use.
uint32_t fixedAssignment(uint32_t n) { return (n >= 3 && n <= 5) || n == 7 ? 1 : 0; }

// v limited to 0 .. count - 1; with no count at all that is -1 ("none").
int64_t limitIndex(int64_t v, int64_t count) {
    if (v < 0) v = 0;
    return v > count - 1 ? count - 1 : v;
}

// The input word as clients see it: limited to the last input.
int64_t shownInput(uint32_t word, int64_t count) {
    return int64_t(uint32_t(std::min<int64_t>(word, count - 1)));
}

int64_t harmonicOf(uint32_t word) { return word <= kHarmonicUnit ? 1 : int64_t(word >> kHarmonicShift); }

// The register holds the filter order - 1.
int64_t orderOf(uint32_t word) { return int64_t(word) + 1; }

// Demodulator n's oscillator follows its sinc filter when that is on.
QV_STATUS applySinc(DeviceAccess& device, uint32_t n) {
    DeviceState& state = stateOf(device);
    const auto& sinc = familyDataOf(state).signalPath.demodSincEnable;
    const auto& select = familyDataOf(state).shared.demodOscSelect;
    if (n >= sinc.size() || n >= select.size() || sinc[n] == 0 || select[n] < 0) return QV_NO_ERROR;
    return OscApplySincRule(device, uint32_t(select[n]));
}

QV_STATUS writeInput(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, uint32_t word,
                     int64_t shown) {
    bool changed = false;
    if (QV_STATUS s = storeWordAndMark(device, *ep, word, changed)) return s;
    // A new input makes the PID block take over its settings again.
    if (changed) stateOf(device).pidStrobePending = true;
    if (QV_STATUS s = DemodSetInput(device, demodOf(*ep), word)) return s;
    return replyInteger(device, *ep, seq, session, writeReplyFlags(changed), shown);
}

QV_STATUS updateInput(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length,
                      bool fixed) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (!changed) return QV_NO_ERROR;
    DeviceState& state = stateOf(device);
    const int64_t shown = fixed ? fixedAssignment(demodOf(*ep)) : shownInput(word, DemodInputCount(state));
    if (QV_STATUS s = pushInteger(device, ep->epId, shown)) return s;
    state.pidStrobePending = true;
    return QV_NO_ERROR;
}

QV_STATUS writeOscillator(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, int64_t v) {
    if (ep->value.size() < 4) return QV_BUFFER_TOO_SMALL;
    const uint32_t word = uint32_t(v);
    const bool changed = word != storedWord(*ep);
    const uint32_t n = demodOf(*ep);
    DeviceState& state = stateOf(device);
    if (changed) {
        storeWord(*ep, word);
        auto& oscSelect = familyDataOf(state).shared.demodOscSelect;
        if (n < oscSelect.size()) oscSelect[n] = int32_t(word);
        if (QV_STATUS s = applySinc(device, n)) return s;
    }
    if (QV_STATUS s = DeviceStateEPNodesMarkWrite(state.epNodes, ep->epId)) return s;
    return replyInteger(device, *ep, seq, session, writeReplyFlags(changed), int64_t(word));
}

QV_STATUS writeHarmonic(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, int64_t v) {
    if (v <= 0) v = 1;
    const uint32_t word = v > kHarmonicMax ? kHarmonicWordMax : uint32_t(v) << kHarmonicShift;
    return StoreWordReplyInteger(device, ep, seq, session, word, harmonicOf);
}

}  // namespace

int64_t DemodInputCount(const DeviceState& state) {
    return int64_t(familyDataOf(state).shared.signalInputCount) +
           2 * (int64_t(familyDataOf(state).shared.auxInputCount) + int64_t(familyDataOf(state).shared.dioCount));
}

QV_STATUS DemodSetInput(DeviceAccess& device, uint32_t n, uint32_t word) {
    const AuxOutScaleSnapshot before = AuxOutsScaleFactors(device);
    DeviceState& state = stateOf(device);
    auto& inputs = state.groups.demodInputIndex;
    if (n < inputs.size()) {
        const int64_t count = DemodInputCount(state);
        inputs[n] = count <= 0 ? -1 : int32_t(std::min<int64_t>(word, count - 1));
    }
    return AuxOutsRefreshScale(device, before);
}

QV_STATUS DemodADCSelectReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY,
                        shownInput(storedWord(*ep), DemodInputCount(stateOf(device))));
}

QV_STATUS DemodADCSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                    double, int64_t integer) {
    const int64_t count = DemodInputCount(stateOf(device));
    const uint32_t word = uint32_t(limitIndex(integer, count));
    return writeInput(device, ep, seq, session, word, shownInput(word, count));
}

QV_STATUS DemodADCSelectUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return updateInput(device, ep, data, length, false);
}

QV_STATUS DemodADCSelectReadDataV1(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, fixedAssignment(demodOf(*ep)));
}

QV_STATUS DemodADCSelectWriteNumberV1(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double, int64_t) {
    const uint32_t word = fixedAssignment(demodOf(*ep));
    return writeInput(device, ep, seq, session, word, word);
}

QV_STATUS DemodADCSelectUpdateDataV1(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                     uint32_t length) {
    return updateInput(device, ep, data, length, true);
}

QV_STATUS DemodOrderReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsInteger(device, ep, seq, session, orderOf);
}

QV_STATUS DemodOrderWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                                int64_t integer) {
    const int64_t order = std::clamp<int64_t>(integer, 1, kOrderMax);
    return StoreWordReplyInteger(device, ep, seq, session, uint32_t(order - 1), orderOf);
}

QV_STATUS DemodOrderUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return PushNewWordAsInteger(device, ep, data, length, orderOf);
}

QV_STATUS DemodOscSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                    double, int64_t integer) {
    const int64_t count = familyDataOf(stateOf(device)).shared.oscillatorCount;
    return writeOscillator(device, ep, seq, session, limitIndex(integer, count));
}

QV_STATUS DemodOscSelectWriteNumberV1(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double, int64_t integer) {
    int64_t v = std::clamp<int64_t>(integer, 0, 1);
    const uint32_t n = demodOf(*ep);
    if (n == 6 || n == 7) v = fixedAssignment(n);
    return writeOscillator(device, ep, seq, session, v);
}

QV_STATUS DemodOscSelectWriteNumberFixed(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                         double, int64_t) {
    return writeOscillator(device, ep, seq, session, demodOf(*ep));
}

QV_STATUS DemodOscSelectUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (!changed) return QV_NO_ERROR;
    const uint32_t n = demodOf(*ep);
    auto& select = familyDataOf(stateOf(device)).shared.demodOscSelect;
    if (n < select.size()) select[n] = int32_t(word);
    if (QV_STATUS s = applySinc(device, n)) return s;
    return pushInteger(device, ep->epId, int64_t(word));
}

QV_STATUS DemodHarmonicReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsInteger(device, ep, seq, session, harmonicOf);
}

QV_STATUS DemodHarmonicWideWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                       double, int64_t integer) {
    return writeHarmonic(device, ep, seq, session, integer);
}

QV_STATUS DemodHarmonicWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                                   int64_t integer) {
    return writeHarmonic(device, ep, seq, session, std::clamp<int64_t>(integer, 1, kNarrowHarmonicMax));
}

QV_STATUS DemodHarmonicUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return PushNewWordAsInteger(device, ep, data, length, harmonicOf);
}

double DemodPhaseDegrees(uint32_t word) {
    const double degrees = double(word) / kPhaseStepsPerDegree;
    return degrees > kHalfTurn ? degrees - kFullTurn : degrees;
}

uint32_t DemodPhaseWord(double degrees) {
    if (!std::isfinite(degrees)) return 0;
    const double turns = std::trunc(degrees / kFullTurn);
    double p = degrees - turns * kFullTurn;
    // Beyond 2^53 degrees the subtraction above loses the fraction of a turn.
    if (!(p > -kFullTurn && p < kFullTurn)) p = std::fmod(degrees, kFullTurn);
    if (p < 0.0) p += kFullTurn;
    return saturatingCast<uint32_t>(p * kPhaseStepsPerDegree);
}

QV_STATUS DemodPhaseShiftReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsDouble(device, ep, seq, session, DemodPhaseDegrees);
}

QV_STATUS DemodPhaseShiftWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double value, int64_t) {
    return StoreWordReplyDouble(device, ep, seq, session, DemodPhaseWord(value), DemodPhaseDegrees);
}

QV_STATUS DemodPhaseShiftUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                    uint32_t length) {
    return PushNewWordAsDouble(device, ep, data, length, DemodPhaseDegrees);
}

QV_STATUS DemodSincWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                               int64_t integer) {
    const uint32_t on = integer != 0 ? 1 : 0;
    bool changed = false;
    if (QV_STATUS s = storeWordAndMark(device, *ep, on, changed)) return s;
    const uint32_t n = demodOf(*ep);
    auto& sinc = familyDataOf(stateOf(device)).signalPath.demodSincEnable;
    if (changed && n < sinc.size()) sinc[n] = int32_t(on);
    if (QV_STATUS s = replyInteger(device, *ep, seq, session, writeReplyFlags(changed), on)) return s;
    return changed && on ? applySinc(device, n) : QV_NO_ERROR;
}

QV_STATUS DemodSincUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (!changed) return QV_NO_ERROR;
    const uint32_t n = demodOf(*ep);
    auto& sinc = familyDataOf(stateOf(device)).signalPath.demodSincEnable;
    if (n < sinc.size()) sinc[n] = word != 0 ? 1 : 0;
    if (QV_STATUS s = pushInteger(device, ep->epId, word != 0 ? 1 : 0)) return s;
    return word != 0 ? applySinc(device, n) : QV_NO_ERROR;
}

}  // namespace tarnix
