#include "groups/Demods.h"

#include "platform/endian/ByteOrder.h"
#include "core/DataTypes.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/BlockChecks.h"
#include "groups/DemodSample.h"
#include "groups/DemodsRate.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/TimeConstant.h"
#include "groups/data/GroupFamilyData.h"

#include <algorithm>

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;
using Leaf = LQ3::Demods::Instance;

const std::vector<NodeValueListEntry>& LQ3::DemodsADCSelectValues() {
    static const std::vector<NodeValueListEntry> table{{"Signal input 0", 0}, {"Signal input 1", 1},
                                                       {"Aux Input 0", 2},    {"Aux Input 1", 3},
                                                       {"DIO 0", 4},          {"DIO 1", 5}};
    return table;
}

const std::vector<NodeValueListEntry>& LQ3::DemodsOrderValues() {
    static const std::vector<NodeValueListEntry> table{
        {"6dB/oct slope", 1},  {"12dB/oct slope", 2}, {"18dB/oct slope", 3}, {"24dB/oct slope", 4},
        {"30dB/oct slope", 5}, {"36dB/oct slope", 6}, {"42dB/oct slope", 7}, {"48dB/oct slope", 8}};
    return table;
}

const std::vector<NodeValueListEntry>& LQ3::DemodsTriggerValues() {
    static const std::vector<NodeValueListEntry> table{
        {"DIO0 rising edge", 1}, {"DIO0 falling edge", 2}, {"DIO1 rising edge", 4}, {"DIO1 falling edge", 8},
        {"DIO0 high", 16},       {"DIO0 low", 32},         {"DIO1 high", 64},       {"DIO1 low", 128}};
    return table;
}

const std::vector<NodeValueListEntry>& LQ3::DemodsSincValues() {
    static const std::vector<NodeValueListEntry> table{{"Sinc filtering disabled", 0}, {"Sinc filtering enabled", 1}};
    return table;
}

namespace {

constexpr uint32_t kWordBytes = 4;
constexpr double kInitialTimeConstant = 1.0;
constexpr uint32_t kHarmonicOne = 0x80;

// Offsets in a demodulator's settings block.
constexpr int32_t kADCSelectOffset = 0x00;
constexpr int32_t kOrderOffset = 0x04;
constexpr int32_t kTimeConstantOffset = 0x08;
constexpr int32_t kRateOffset = 0x0C;
constexpr int32_t kOscSelectOffset = 0x10;
constexpr int32_t kHarmonicOffset = 0x14;
constexpr int32_t kPhaseShiftOffset = 0x18;
constexpr int32_t kSincOffset = 0x1C;

// What one demodulator's leaves need while they are made.
struct DemodBuild {
    DeviceAccess& device;
    DeviceStateNodeGroup* group;
    TreeNode::Ptr node;
    const Feature* settings;
    int32_t n;
    uint16_t version;
};

uint32_t fixedAssignment(uint32_t n) { return (n >= 3 && n <= 5) || n == 7 ? 1 : 0; }

int64_t limitIndex(int64_t v, int64_t count) { return std::min<int64_t>(std::max<int64_t>(v, 0), count - 1); }

// A settings word of the demodulator: made, bound, given its placeholder
// value and, when asked, requested from the instrument.
template <class T>
EPNodePtr settingsWord(const DemodBuild& b, int32_t offset, uint32_t initial, ReadDataFunc read,
                       WriteNumberFunc write, UpdateDataFunc update) {
    EPNodePtr ep = CreateLeaf<T>(b.device, b.group, b.node, kWordBytes, int32_t(kWordBytes), b.settings, b.n, offset);
    BindRegisterSetting(*ep, std::move(read), std::move(write), std::move(update));
    storeWord(*ep, initial);
    return ep;
}

WriteNumberFunc oscSelectWriter(uint16_t version, int32_t n) {
    if (version == 3 && n > 5) return DemodOscSelectWriteNumberFixed;
    if (version >= 2) return DemodOscSelectWriteNumber;
    return DemodOscSelectWriteNumberV1;
}

QV_STATUS buildDemod(const DemodBuild& b, Feature* settings, const Feature* samples) {
    DeviceState& state = stateOf(b.device);
    const uint32_t n = uint32_t(b.n);
    const bool v2 = b.version >= 2;
    std::vector<int32_t> requested;

    const uint32_t input = v2 ? uint32_t(limitIndex(b.n, DemodInputCount(state))) : fixedAssignment(n);
    EPNodePtr adc = v2 ? settingsWord<Leaf::ADCSelect>(b, kADCSelectOffset, input, DemodADCSelectReadData,
                                                       DemodADCSelectWriteNumber, DemodADCSelectUpdateData)
                       : settingsWord<Leaf::ADCSelect>(b, kADCSelectOffset, input, DemodADCSelectReadDataV1,
                                                       DemodADCSelectWriteNumberV1, DemodADCSelectUpdateDataV1);
    requested.push_back(adc->epId);
    settings->dataFunc = DemodSettingsDataHandler;

    requested.push_back(settingsWord<Leaf::Order>(b, kOrderOffset, 0, DemodOrderReadData, DemodOrderWriteNumber,
                                                  DemodOrderUpdateData)
                            ->epId);
    requested.push_back(settingsWord<Leaf::TimeConstant>(b, kTimeConstantOffset, ToTC(kInitialTimeConstant),
                                                         DemodTimeConstantReadData, TimeConstantWriteNumber,
                                                         DemodTimeConstantUpdateData)
                            ->epId);
    EPNodePtr rate = settingsWord<Leaf::Rate>(b, kRateOffset, kDemodRateOff, DemodRateReadData, DemodRateWriteNumber,
                                              DemodRateUpdateData);
    rate->writeData = DemodRateWriteData;
    EPNodePtr trigger = CreateLeaf<Leaf::Trigger>(b.device, b.group, b.node, kWordBytes, 0, b.settings, b.n,
                                                  kRateOffset);
    BindServerSetting(*trigger, DemodTriggerReadData, DemodTriggerWriteNumber);

    const uint32_t osc = b.version == 3 && n > 5 ? n
                         : v2                    ? uint32_t(limitIndex(b.n, familyDataOf(state).shared.oscillatorCount))
                                                 : fixedAssignment(n);
    requested.push_back(
        settingsWord<Leaf::OscSelect>(b, kOscSelectOffset, osc, IntegerReadData, oscSelectWriter(b.version, b.n),
                                      DemodOscSelectUpdateData)
            ->epId);
    auto& oscSelect = familyDataOf(state).shared.demodOscSelect;
    if (n < oscSelect.size()) oscSelect[n] = int32_t(osc);

    const bool narrowHarmonic = n == 6 || n == 7;
    requested.push_back(settingsWord<Leaf::Harmonic>(
                            b, kHarmonicOffset, kHarmonicOne, DemodHarmonicReadData,
                            narrowHarmonic ? WriteNumberFunc(DemodHarmonicWriteNumber) : DemodHarmonicWideWriteNumber,
                            DemodHarmonicUpdateData)
                            ->epId);
    requested.push_back(settingsWord<Leaf::PhaseShift>(b, kPhaseShiftOffset, 0, DemodPhaseShiftReadData,
                                                       DemodPhaseShiftWriteNumber, DemodPhaseShiftUpdateData)
                            ->epId);
    requested.push_back(
        settingsWord<Leaf::Sinc>(b, kSincOffset, 0, BooleanReadData, DemodSincWriteNumber, DemodSincUpdateData)
            ->epId);
    auto& sinc = familyDataOf(state).signalPath.demodSincEnable;
    if (n < sinc.size()) sinc[n] = 0;

    // Both sample slots of the demodulator feed the one stream.
    EPNodePtr sample = CreateLeaf<Leaf::Sample>(b.device, b.group, b.node, uint32_t(kDemodSampleSize),
                                                int32_t(kDemodSamplePacketBytes), samples, 2 * b.n, 0);
    BindReadOnlyRegister(*sample, DemodSampleReadData, DemodSampleUpdateData);
    if (QV_STATUS s = DeviceStateEPAddSubfeature(b.device, sample, 2 * b.n + 1, 0)) return s;
    if (QV_STATUS s = DeviceStateBufferEP(b.device, sample, DATATYPE_DEMODSAMPLE)) return s;

    for (const EPNodePtr& leaf : {trigger, rate})
        if (QV_STATUS s = LinkEndpoints(*leaf, {rate->epId, trigger->epId})) return s;
    // RATE comes last: its answer also brings the trigger bits.
    requested.push_back(rate->epId);
    for (int32_t id : requested)
        if (QV_STATUS s = DeviceStateRequestEP(b.device, id)) return s;
    return QV_NO_ERROR;
}

}  // namespace

QV_STATUS DemodsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count) {
    if (QV_STATUS s = GroupCheckBlocks(items, count, 2, RepsRelation::Twice)) return s;
    DeviceState& state = stateOf(device);
    Feature* settings = items[0];
    auto& data = familyDataOf(state).signalPath;
    familyDataOf(state).shared.demodulatorCount = settings->count;
    data.demodsVersion = version;
    data.demodBlockRow = DeviceStateRowOf(device, settings);
    data.demodBlockStride = settings->stride;
    data.demodBlockAttribute = settings->attribute;
    GroupWarnBeyondTable("DEMODS", settings->count, familyDataOf(state).shared.demodOscSelect.size(),
                         "the oscillator selection and sinc filter");
    GroupWarnBeyondTable("DEMODS", settings->count, state.groups.demodInputIndex.size(),
                         "the input selection (and with it the sample stream)");

    for (uint32_t n = 0; n < settings->count; ++n) {
        const TreeNode::Ptr node = CreateChild<LQ3::Demods::Instance>(groupNode);
        const DemodBuild build{device, group, node, settings, int32_t(n), version};
        if (QV_STATUS s = buildDemod(build, settings, items[1])) return s;
    }
    return QV_NO_ERROR;
}

QV_STATUS DemodsFeatureLink(DeviceAccess&, const TreeNode::Ptr&, const std::vector<int>&, int) {
    // The input and oscillator words are not written again here: when the
    // link runs, the instrument's own words have not arrived yet, and writing
    // the placeholders would overwrite its settings. Reads, writes and updates
    // apply the input limit with the groups that exist by then.
    return QV_NO_ERROR;
}

QV_STATUS DemodSettingsDataHandler(DeviceAccess& device, Feature& item, uint32_t address, uint32_t instance,
                                   const uint8_t* data, uint32_t length) {
    const uint64_t blockStart = uint64_t(item.address) + uint64_t(instance) * item.stride;
    if (address != blockStart || !data || length < kWordBytes) return QV_NO_ERROR;
    return DemodSetInput(device, instance, le::get32(data));
}

}  // namespace tarnix
