#include "groups/SigIns.h"

#include "platform/endian/ByteOrder.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/AuxOutsScale.h"
#include "groups/BlockChecks.h"
#include "groups/common/BooleanUpdateData.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/SharedWriteHandlers.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"
#include "groups/data/GroupFamilyData.h"

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;
using SigInNodes = LQ3::SigIns::Instance;

const std::vector<NodeValueListEntry>& SigInNodes::AC::values() {
    static const std::vector<NodeValueListEntry> table{{"DC coupling", 0}, {"AC coupling", 1}};
    return table;
}

const std::vector<NodeValueListEntry>& SigInNodes::Imp50::values() {
    static const std::vector<NodeValueListEntry> table{{"High impedance", 0}, {"50 Ohm impedance", 1}};
    return table;
}

const std::vector<NodeValueListEntry>& SigInNodes::Diff::values() {
    static const std::vector<NodeValueListEntry> table{{"Single-ended inputs", 0}, {"Differential inputs", 1}};
    return table;
}

namespace {

constexpr uint32_t kWordBytes = 4;
constexpr uint32_t kSingleEnded = 1;  // DIFF's register holds 1 for single-ended

uint32_t inputOf(const DeviceStateEPNode& ep) { return uint32_t(ep.instance); }

double rangeOfGain(double gain) { return 1.0 / gain; }

// The instrument's gain-range keys are single-precision values; the built-in
// table is held the same way, so that every range reads alike.
void keysAsSingles(DeviceState& state) {
    for (auto& table : state.groups.gainRanges)
        for (GainRangeEntry& entry : table) entry.range = double(float(entry.range));
}

// A leaf of one 32-bit register word at `offset` of the input's block.
template <class T>
EPNodePtr makeLeaf(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& input, const Feature* item,
                   int32_t instance, int32_t offset, uint32_t initialWord) {
    EPNodePtr ep = CreateLeaf<T>(device, group, input, kWordBytes, int32_t(kWordBytes), item, instance, offset);
    storeWord(*ep, initialWord);
    return ep;
}

QV_STATUS makeInput(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& root, const Feature* item,
                    uint32_t i) {
    DeviceState& state = stateOf(device);
    FrontEndData& data = familyDataOf(state).frontEnd;
    const TreeNode::Ptr input = CreateChild<SigInNodes>(root);
    const uint32_t block = item->address + i * item->stride;
    const bool modelled = i < sigin::kModelInputs;
    if (modelled) data.sigInRangeAuxAddress[i] = block + sigin::kRangeAuxOffset;
    const int32_t instance = int32_t(i);

    EPNodePtr range = makeLeaf<SigInNodes::Range>(device, group, input, item, instance, sigin::kRangeOffset, 0);
    BindRegisterSetting(*range, SigInRangeReadData, SigInRangeWriteNumber, SigInRangeUpdateData);
    if (modelled) data.sigInRangeEPIds[i] = range->epId;
    if (QV_STATUS s = DeviceStateRequestEP(device, range->epId)) return s;

    EPNodePtr ac = makeLeaf<SigInNodes::AC>(device, group, input, item, instance, sigin::kAcOffset, 0);
    BindRegisterSetting(*ac, BooleanReadData, SigInAcWriteNumber, SigInAcUpdateData);
    if (QV_STATUS s = DeviceStateRequestEP(device, ac->epId)) return s;

    EPNodePtr imp50 =
        makeLeaf<SigInNodes::Imp50>(device, group, input, item, instance, sigin::kImp50Offset, 0);
    BindRegisterSetting(*imp50, BooleanReadData, BooleanWriteNumber, BooleanUpdateData);
    imp50->writeData = SigInImp50WriteData;
    if (QV_STATUS s = DeviceStateRequestEP(device, imp50->epId)) return s;
    if (modelled) state.sigInRewriteEPIds[i] = imp50->epId;

    EPNodePtr diff = makeLeaf<SigInNodes::Diff>(device, group, input, item, instance, sigin::kDiffOffset, kSingleEnded);
    BindRegisterSetting(*diff, InvertedBooleanReadData, InvertedBooleanWriteNumber, InvertedBooleanUpdateData);
    if (QV_STATUS s = DeviceStateRequestEP(device, diff->epId)) return s;

    return DeviceStateAddLedRegister(device, block + sigin::kLedOffset);
}

// After the server configured the FPGA, the inputs are terminated with 50 Ohm
// for a while; the engine's send step releases them later. An instrument with
// a single input has one IMP50 leaf to force.
QV_STATUS armImp50Forcing(DeviceAccess& device) {
    DeviceState& state = stateOf(device);
    if (state.sigInRewriteState != SigInRewriteState::FpgaConfigured) return QV_NO_ERROR;
    for (int32_t id : state.sigInRewriteEPIds) {
        if (id < 0) continue;
        if (QV_STATUS s = DeviceStateEPNodesMarkWrite(state.epNodes, id)) return s;
    }
    state.sigInRewriteTime = device.now();
    state.sigInRewriteState = SigInRewriteState::Armed;
    return QV_NO_ERROR;
}

}  // namespace

QV_STATUS SigInsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t, const std::vector<Feature*>& items, int count) {
    if (QV_STATUS s = GroupCheckBlocks(items, count, 1)) return s;
    DeviceState& state = stateOf(device);
    const Feature* item = items[0];
    familyDataOf(state).shared.signalInputCount = item->count;
    GroupWarnBeyondTable("SIGINS", item->count, sigin::kModelInputs,
                         "the gain model (range, coupling table, gain data, 50 Ohm forcing)");
    state.sigInRewriteEPIds.fill(-1);  // this build's inputs only
    // A new round of gain data: answers still on their way from an earlier
    // build count for nothing, and this round counts from 0 again.
    FrontEndData& frontEnd = familyDataOf(state).frontEnd;
    ++frontEnd.gainRequestRound;
    frontEnd.sigInGainCalBlocks.fill(0);
    frontEnd.gainRangeAnswerCount = 0;
    keysAsSingles(state);
    for (uint32_t i = 0; i < item->count; ++i)
        if (QV_STATUS s = makeInput(device, group, groupNode, item, i)) return s;
    const QV_STATUS requested =
        SigInTableMode(state) ? SigInRequestGainRangeTable(device) : SigInRequestGainCalibration(device);
    if (requested) return requested;
    return armImp50Forcing(device);
}

QV_STATUS SigInRangeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    const double gain = SigInWordGain(stateOf(device), inputOf(*ep), storedWord(*ep));
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, rangeOfGain(gain));
}

QV_STATUS SigInRangeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                double value, int64_t) {
    DeviceState& state = stateOf(device);
    const uint32_t input = inputOf(*ep);
    if (ep->value.size() < kWordBytes) return QV_BUFFER_TOO_SMALL;
    const AuxOutScaleSnapshot before = AuxOutsScaleFactors(device);

    const SigInRangeWords words = SigInRangeToWord(state, input, value);
    const bool changed = words.word != storedWord(*ep);
    if (changed) storeWord(*ep, words.word);
    if (QV_STATUS s = DeviceStateEPNodesMarkWrite(state.epNodes, ep->epId)) return s;
    SigInWriteRangeAux(device, input, words.auxWord);
    state.pidStrobePending = true;

    const double gain = SigInWordGain(state, input, words.word);
    SigInSetGain(state, input, gain);
    // The client learns the range the word realises, not the one it asked for.
    if (QV_STATUS s = replyDouble(device, *ep, seq, session, writeReplyFlags(changed), rangeOfGain(gain))) return s;
    return AuxOutsRefreshScale(device, before);
}

QV_STATUS SigInRangeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    DeviceState& state = stateOf(device);
    const uint32_t input = inputOf(*ep);
    if (!data || length < kWordBytes) return QV_BUFFER_TOO_SMALL;
    const AuxOutScaleSnapshot before = AuxOutsScaleFactors(device);

    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    const double gain = SigInWordGain(state, input, word);
    SigInSetGain(state, input, gain);
    if (changed) {
        if (QV_STATUS s = pushDouble(device, ep->epId, rangeOfGain(gain))) return s;
        state.pidStrobePending = true;
    }
    return AuxOutsRefreshScale(device, before);
}

QV_STATUS SigInAcWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                             double value, int64_t integer) {
    if (QV_STATUS s = BooleanWriteNumber(device, ep, seq, session, value, integer)) return s;
    // A full output FIFO loses only the pushed scale; the write itself succeeded.
    SigInCouplingChanged(device, inputOf(*ep), storedWord(*ep)).ignore();
    return QV_NO_ERROR;
}

QV_STATUS SigInAcUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (changed) {
        if (QV_STATUS s = pushInteger(device, ep->epId, word != 0 ? 1 : 0)) return s;
    }
    // Also an unchanged read-back: the sub-table follows the instrument's coupling.
    // A full output FIFO loses only the pushed scale; the read-back itself succeeded.
    SigInCouplingChanged(device, inputOf(*ep), word).ignore();
    return QV_NO_ERROR;
}

QV_STATUS SigInImp50WriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address) {
    if (address == 0) return QV_NO_ERROR;
    const bool forced = stateOf(device).sigInRewriteState == SigInRewriteState::Armed;
    queueRegisterWord(device, address, storedWord(*ep) != 0 || forced ? 1 : 0);
    return QV_NO_ERROR;
}

QV_STATUS SigInCouplingChanged(DeviceAccess& device, uint32_t input, uint32_t couplingWord) {
    if (input >= sigin::kModelInputs) return QV_NO_ERROR;
    DeviceState& state = stateOf(device);
    uint32_t& current = familyDataOf(state).frontEnd.sigInCouplingTable[input];
    const uint32_t subTable = couplingWord == 0 ? 1 : 0;
    if (current == subTable) return QV_NO_ERROR;
    const AuxOutScaleSnapshot before = AuxOutsScaleFactors(device);

    const uint32_t oldWord = SigInRangeWord(device, input);
    const double oldRange = rangeOfGain(SigInWordGain(state, input, oldWord));
    current = subTable;
    const SigInRangeWords words = SigInTableMode(state) ? SigInRemapWord(state, input, oldWord, subTable)
                                                        : SigInRangeToWord(state, input, oldRange);
    SigInTakeRangeWord(device, input, oldWord, oldRange, words);
    return AuxOutsRefreshScale(device, before);
}

void SigInTakeRangeWord(DeviceAccess& device, uint32_t input, uint32_t oldWord, double oldRange,
                        const SigInRangeWords& words) {
    DeviceState& state = stateOf(device);
    const double gain = SigInWordGain(state, input, words.word);
    SigInSetGain(state, input, gain);
    const EPNodePtr range = SigInRangeEndpoint(device, input);
    if (!range) return;
    if (words.word != oldWord) {
        storeWord(*range, words.word);
        // Marking a node for writing cannot fail.
        DeviceStateEPNodesMarkWrite(state.epNodes, range->epId).ignore();
        SigInWriteRangeAux(device, input, words.auxWord);
    }
    // A full output FIFO loses only this push.
    // A full output FIFO loses only this push.
    if (rangeOfGain(gain) != oldRange) pushDouble(device, range->epId, rangeOfGain(gain)).ignore();
}

}  // namespace tarnix
