#include "groups/Oscs.h"

#include "engine/DeviceState.h"
#include "groups/BlockChecks.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/PhaseIncrement.h"
#include "groups/common/RegisterImage.h"
#include "groups/common/ValueReplies.h"
#include "groups/data/GroupFamilyData.h"

#include <cmath>

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;

namespace {

constexpr uint32_t kFreqBytes = 8;
constexpr double kInitialFrequency = 100.0;

double limitFrequency(double hertz) {
    if (!(hertz > 0.0)) return 0.0;  // also NaN
    return hertz > kOscFreqMax ? kOscFreqMax : hertz;
}

// The nearest whole fraction of the sinc filter's highest frequency.
double sincFrequency(double hertz) {
    if (hertz > kOscSincFreqMax) hertz = kOscSincFreqMax;
    // 0 gives an infinite divisor and so 0 Hz.
    const double divisor = std::floor(kOscSincFreqMax / hertz + 0.5);
    return limitFrequency(kOscSincFreqMax / divisor);
}

}  // namespace

bool OscIsSincLinked(const DeviceState& state, uint32_t osc) {
    const auto& select = familyDataOf(state).shared.demodOscSelect;
    const auto& sinc = familyDataOf(state).signalPath.demodSincEnable;
    for (std::size_t d = 0; d < select.size() && d < sinc.size(); ++d)
        if (select[d] >= 0 && uint32_t(select[d]) == osc && sinc[d] != 0) return true;
    return false;
}

uint64_t OscFrequencyRegister(double hertz, bool sincLinked) {
    double f = limitFrequency(hertz);
    if (sincLinked) f = sincFrequency(f);
    // The top of the range stays truncated, so it never rounds beyond 100 MHz.
    return ToPhaseIncrement(f, f < kOscFreqMax ? PhaseRounding::Nearest : PhaseRounding::Truncate);
}

QV_STATUS OscsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t, const std::vector<Feature*>& items, int count) {
    if (QV_STATUS s = GroupCheckBlocks(items, count, 1)) return s;
    DeviceState& state = stateOf(device);
    const Feature* record = items[0];
    familyDataOf(state).shared.oscillatorCount = record->count;
    GroupWarnBeyondTable("OSCS", record->count, familyDataOf(state).signalPath.oscFreqEpId.size(),
                         "the frequency that a demodulator's sinc filter follows");

    for (uint32_t i = 0; i < record->count; ++i) {
        const TreeNode::Ptr instance = CreateChild<LQ3::Oscs::Instance>(groupNode);
        EPNodePtr freq = CreateLeaf<LQ3::Oscs::Instance::Freq>(device, group, instance, kFreqBytes, kFreqBytes,
                                                               record, int32_t(i), 0);
        BindRegisterSetting(*freq, OscFreqReadData, OscFreqWriteNumber, OscFreqUpdateData);
        storeWord64(*freq, OscFrequencyRegister(kInitialFrequency, OscIsSincLinked(state, i)));
        if (QV_STATUS s = DeviceStateRequestEP(device, freq->epId)) return s;
        auto& freqEpIds = familyDataOf(state).signalPath.oscFreqEpId;
        if (i < freqEpIds.size()) freqEpIds[i] = freq->epId;
    }
    return QV_NO_ERROR;
}

QV_STATUS OscFreqWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double value,
                             int64_t) {
    const bool linked = ep->instance >= 0 && OscIsSincLinked(stateOf(device), uint32_t(ep->instance));
    bool changed = false;
    if (QV_STATUS s = storeWord64AndMark(device, *ep, OscFrequencyRegister(value, linked), changed)) return s;
    return replyDouble(device, *ep, seq, session, writeReplyFlags(changed), FromPhaseIncrement(storedWord64(*ep)));
}

QV_STATUS OscFreqUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    if (!data || length < kFreqBytes || ep->value.size() < kFreqBytes) return QV_BUFFER_TOO_SMALL;
    const uint64_t increment = le::get64(data);
    if (increment == storedWord64(*ep)) return QV_NO_ERROR;
    storeWord64(*ep, increment);
    return pushDouble(device, ep->epId, FromPhaseIncrement(increment));
}

QV_STATUS OscApplySincRule(DeviceAccess& device, uint32_t osc) {
    DeviceState& state = stateOf(device);
    const auto& ids = familyDataOf(state).signalPath.oscFreqEpId;
    if (osc >= ids.size()) return QV_NO_ERROR;
    const EPNodePtr freq = DeviceStateEPNodesFind(state.epNodes, ids[osc]);
    if (!freq || freq->value.size() < kFreqBytes) return QV_NO_ERROR;
    const uint64_t before = storedWord64(*freq);
    const uint64_t after = OscFrequencyRegister(FromPhaseIncrement(before), true);
    if (after == before) return QV_NO_ERROR;
    storeWord64(*freq, after);
    if (QV_STATUS s = DeviceStateEPNodesMarkWrite(state.epNodes, freq->epId)) return s;
    return pushDouble(device, freq->epId, FromPhaseIncrement(after));
}

}  // namespace tarnix
