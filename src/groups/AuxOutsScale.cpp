#include "groups/AuxOutsScale.h"

#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/AuxOutsWords.h"
#include "groups/auxdio/AuxOutLinks.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/ValueReplies.h"
#include "groups/data/GroupFamilyData.h"

namespace tarnix {

double AuxOutInputGain(const DeviceState& state, uint32_t demodIndex) {
    const DeviceStateGroupData& groups = state.groups;
    if (demodIndex >= groups.demodInputIndex.size()) return 0.0;
    const int64_t input = groups.demodInputIndex[demodIndex];
    if (input < 0) return 0.0;
    const SharedGroupData& shared = familyDataOf(state).shared;
    const int64_t signalInputs = shared.signalInputCount;
    if (input < signalInputs) {
        // Only the inputs that have a gain slot can have a known gain.
        return std::size_t(input) < groups.auxOutDerived.size() ? groups.auxOutDerived[std::size_t(input)] : 0.0;
    }
    // Then two inputs per aux-input block and per DIO port, which need no gain.
    const int64_t inputs = signalInputs + 2 * (int64_t(shared.auxInputCount) + int64_t(shared.dioCount));
    return input < inputs ? 1.0 : 0.0;
}

double AuxOutScaleOfWords(const DeviceState& state, int32_t scale, uint32_t selectWord) {
    const SharedGroupData& shared = familyDataOf(state).shared;
    const int64_t code = AuxOutSignalCode(selectWord, shared.pidCount);
    const double gain = AuxOutInputGain(state, AuxOutDemodIndex(selectWord, shared.demodulatorCount));
    return AuxOutScaleValue(scale, code, gain);
}

std::optional<int32_t> AuxOutScaleRegisterOfWords(const DeviceState& state, double value, uint32_t selectWord) {
    const SharedGroupData& shared = familyDataOf(state).shared;
    const int64_t code = AuxOutSignalCode(selectWord, shared.pidCount);
    const double gain = AuxOutInputGain(state, AuxOutDemodIndex(selectWord, shared.demodulatorCount));
    return AuxOutScaleRegister(value, code, gain);
}

double AuxOutScaleOf(DeviceAccess& device, const DeviceStateEPNode& scale) {
    const EPNodePtr select = LinkedEndpoint(device, scale, auxout::kScaleToSelect);
    // Without its selection the output shows no scale.
    if (!select) return 0.0;
    return AuxOutScaleOfWords(stateOf(device), int32_t(storedWord(scale)), storedWord(*select));
}

std::optional<int32_t> AuxOutScaleRegisterFor(DeviceAccess& device, const DeviceStateEPNode& scale,
                                              double value) {
    const EPNodePtr select = LinkedEndpoint(device, scale, auxout::kScaleToSelect);
    if (!select) return 0;
    return AuxOutScaleRegisterOfWords(stateOf(device), value, storedWord(*select));
}

double AuxOutLinkedScale(DeviceAccess& device, const DeviceStateEPNode& select) {
    const EPNodePtr scale = LinkedEndpoint(device, select, auxout::kToScale);
    return scale ? AuxOutScaleOf(device, *scale) : 0.0;
}

AuxOutScaleSnapshot AuxOutsScaleFactors(DeviceAccess& device) {
    const DeviceState& state = stateOf(device);
    const AuxDioData& data = familyDataOf(state).auxDio;
    AuxOutScaleSnapshot values(data.auxOutScaleEpIdCount, 0.0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (const EPNodePtr scale = DeviceStateEPNodesFind(state.epNodes, int32_t(data.auxOutScaleEpIds[i])))
            values[i] = AuxOutScaleOf(device, *scale);
    }
    return values;
}

QV_STATUS AuxOutsRefreshScale(DeviceAccess& device, const AuxOutScaleSnapshot& before) {
    const DeviceState& state = stateOf(device);
    const AuxDioData& data = familyDataOf(state).auxDio;
    for (std::size_t i = 0; i < data.auxOutScaleEpIdCount; ++i) {
        const EPNodePtr scale = DeviceStateEPNodesFind(state.epNodes, int32_t(data.auxOutScaleEpIds[i]));
        if (!scale) continue;
        const double now = AuxOutScaleOf(device, *scale);
        // NaN never equals anything, so it always counts as a change.
        if (i < before.size() && now == before[i]) continue;
        if (QV_STATUS s = pushDouble(device, scale->epId, now)) return s;
    }
    return QV_NO_ERROR;
}

QV_STATUS AuxOutsPushScale(DeviceAccess& device, const EPNodePtr& select) {
    if (!select) return QV_NO_ERROR;
    const EPNodePtr scale = LinkedEndpoint(device, *select, auxout::kToScale);
    if (!scale) return QV_NO_ERROR;
    return pushDouble(device, scale->epId, AuxOutScaleOf(device, *scale));
}

}  // namespace tarnix
