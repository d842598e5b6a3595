#include "groups/AuxOuts.h"

#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/AuxOutsHandlers.h"
#include "groups/BlockChecks.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/GroupLeaf.h"
#include "groups/data/GroupFamilyData.h"

#include <algorithm>

namespace tarnix {

namespace NodeDefs {
namespace LQ3 {

const std::vector<NodeValueListEntry>& AuxOuts::Instance::OutputSelect::values() {
    static const std::vector<NodeValueListEntry> table{{"Manual", -1},
                                                       {"X", 0},
                                                       {"Y", 1},
                                                       {"R", 2},
                                                       {"Theta", 3},
                                                       {"PLL 0 (with installed PLL option))", 4},
                                                       {"PLL 1 (with installed PLL option))", 5}};
    return table;
}

}  // namespace LQ3
}  // namespace NodeDefs

namespace {

namespace LQ3 = NodeDefs::LQ3;
using Output = LQ3::AuxOuts::Instance;

// Register block of one output.
constexpr int32_t kValueOffset = 0;
constexpr int32_t kSelectOffset = 4;
constexpr int32_t kScaleOffset = 8;
constexpr int32_t kOffsetOffset = 12;
constexpr uint32_t kWordBytes = 4;
constexpr uint32_t kDemodIndexShift = 4;
constexpr uint32_t kDemodFieldMask = 0xF;

// A word setting of one output, with its start value, requested from the instrument.
QV_STATUS startRequested(DeviceAccess& device, DeviceStateEPNode& ep, uint32_t word) {
    storeWord(ep, word);
    return DeviceStateRequestEP(device, ep.epId);
}

}  // namespace

QV_STATUS AuxOutsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                             uint16_t, const std::vector<Feature*>& items, int count) {
    if (QV_STATUS s = GroupCheckBlocks(items, count, 1)) return s;
    DeviceState& state = stateOf(device);
    AuxDioData& data = familyDataOf(state).auxDio;
    const Feature* block = items[0];
    data.auxOutScaleEpIdCount = 0;
    familyDataOf(state).shared.auxOutputCount = block->count;
    GroupWarnBeyondTable("AUXOUTS", block->count, AuxDioData::kMaxAuxOutScales,
                         "the scales (an output beyond them ends the build)");

    // Selects the first demodulator; with none the field holds 0xF.
    const int64_t lastDemod = std::min<int64_t>(0, int64_t(familyDataOf(state).shared.demodulatorCount) - 1);
    const uint32_t startSelect = (uint32_t(lastDemod) & kDemodFieldMask) << kDemodIndexShift;

    const int32_t outputs = int32_t(block->count);
    for (int32_t n = 0; n < outputs; ++n) {
        const TreeNode::Ptr node = CreateChild<Output>(groupNode);

        const EPNodePtr value =
            CreateLeaf<Output::Value>(device, group, node, kWordBytes, kWordBytes, block, n, kValueOffset);
        BindReadOnlyRegister(*value, AuxOutValueReadData, AuxOutValueUpdateData);
        value->writeData = DeviceStateEPWriteRegisters;
        value->requestData = DeviceStateEPRequestRegisters;
        if (QV_STATUS s = startRequested(device, *value, 0)) return s;

        const EPNodePtr select =
            CreateLeaf<Output::OutputSelect>(device, group, node, kWordBytes, kWordBytes, block, n, kSelectOffset);
        BindRegisterSetting(*select, AuxOutOutputSelectReadData, AuxOutOutputSelectWriteNumber,
                            AuxOutOutputSelectUpdateData);
        select->writeData = AuxOutOutputSelectWriteData;
        if (QV_STATUS s = startRequested(device, *select, startSelect)) return s;

        // No register of its own: its value lives in the OUTPUTSELECT word.
        const EPNodePtr demod = CreateLeaf<Output::DemodSelect>(device, group, node, 0, 0, block, n, kSelectOffset);
        BindServerSetting(*demod, AuxOutDemodSelectReadData, AuxOutDemodSelectWriteNumber);

        const EPNodePtr scale =
            CreateLeaf<Output::Scale>(device, group, node, kWordBytes, kWordBytes, block, n, kScaleOffset);
        BindRegisterSetting(*scale, AuxOutScaleReadData, AuxOutScaleWriteNumber, AuxOutScaleUpdateData);
        if (QV_STATUS s = startRequested(device, *scale, 0)) return s;
        if (data.auxOutScaleEpIdCount >= AuxDioData::kMaxAuxOutScales) return QV_BUFFER_TOO_SMALL;
        data.auxOutScaleEpIds[data.auxOutScaleEpIdCount++] = uint32_t(scale->epId);

        const EPNodePtr offset =
            CreateLeaf<Output::Offset>(device, group, node, kWordBytes, kWordBytes, block, n, kOffsetOffset);
        BindRegisterSetting(*offset, AuxOutOffsetReadData, AuxOutOffsetWriteNumber, AuxOutOffsetUpdateData);
        if (QV_STATUS s = startRequested(device, *offset, 0)) return s;

        if (QV_STATUS s = LinkEndpoints(*scale, {select->epId, demod->epId})) return s;
        if (QV_STATUS s = LinkEndpoints(*demod, {select->epId, scale->epId})) return s;
        if (QV_STATUS s = LinkEndpoints(*select, {demod->epId, scale->epId, offset->epId})) return s;
    }
    return QV_NO_ERROR;
}

// The outputs' selections are left as the instrument reports them. Writing
// them again here would send the start words before the instrument's answers
// to their read requests have arrived, overwriting its settings; and every
// value that depends on other groups (the shown scale) is computed when it is
// asked for, from the current state of those groups.
QV_STATUS AuxOutsFeatureLink(DeviceAccess&, const TreeNode::Ptr&, const std::vector<int>&, int) {
    return QV_NO_ERROR;
}

}  // namespace tarnix
