#include "groups/PLLs.h"

#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/Demods.h"
#include "groups/DemodsRate.h"
#include "groups/Oscs.h"
#include "groups/PLLsHandlers.h"
#include "groups/PLLsLoopGain.h"
#include "groups/common/BooleanUpdateData.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/PhaseIncrement.h"
#include "groups/common/RegisterImage.h"
#include "groups/common/SharedWriteHandlers.h"
#include "groups/common/TimeConstant.h"
#include "groups/data/GroupFamilyData.h"

#include <boost/format.hpp>

#include <cstring>

namespace tarnix {

namespace {

namespace LQ3 = NodeDefs::LQ3;
using Loop = LQ3::PLLs::Instance;

constexpr int kRecordCount = 1;
constexpr uint32_t kDemodsUnlisted = 6;  // demodulators 6 and 7 follow the listed six
constexpr uint32_t kDemods67Count = 2;
constexpr char kDemods67Name[] = "DEMODS67";
constexpr double kStartTimeConstant = 1.0;  // seconds
constexpr uint32_t kStartHarmonic = 0x80;   // harmonic 1
constexpr uint32_t kStartExternalOff = 1;   // inverted on/off registers: reads as 0

using CreateFn = EPNodePtr (*)(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint32_t, int32_t,
                               const Feature*, int32_t, int32_t, int32_t);
using ReadFn = QV_STATUS (*)(DeviceAccess&, const EPNodePtr&, uint16_t, uint16_t);
using WriteFn = QV_STATUS (*)(DeviceAccess&, const EPNodePtr&, uint16_t, uint16_t, double, int64_t);
using UpdateFn = QV_STATUS (*)(DeviceAccess&, const EPNodePtr&, const uint8_t*, uint32_t);

// Where a leaf's register lies: the loop's own block, or (HARMONIC and ORDER)
// the block of demodulator 6 + n.
enum class Block { Loop, Demod67 };

// Which feature versions have the leaf.
enum class Presence { Always, Version2Or3 };

// Where the start value of a leaf's register comes from.
enum class Start { Zero, Input, TimeConstant, Gain, ExternalOff, Harmonic };

// The loop-gain leaves find each other through their byte buffers.
enum class GainLink { None, Proportional, Integral, Derivative };

struct LeafEntry {
    CreateFn create;
    Block block;
    int32_t offset;
    uint32_t size;
    Presence presence;
    Start start;
    ReadFn read;
    WriteFn write;
    UpdateFn update;
    GainLink link = GainLink::None;
};

// The leaves of one loop, in creation order.
const LeafEntry kLeaves[] = {
    {&CreateLeaf<Loop::ADCSelect>, Block::Loop, 0x00, 4, Presence::Always, Start::Input, DemodADCSelectReadData,
     PLLADCSelectWriteNumber, PLLADCSelectReceivedData},
    {&CreateLeaf<Loop::FreqCenter>, Block::Loop, 0x04, 8, Presence::Always, Start::Zero, OscFreqReadData,
     PLLFreqCenterWriteNumber, OscFreqUpdateData},
    {&CreateLeaf<Loop::FreqRange>, Block::Loop, 0x0c, 8, Presence::Version2Or3, Start::Zero, PLLFreqRangeReadData,
     PLLFreqRangeWriteNumber, PLLFreqRangeReceivedData},
    {&CreateLeaf<Loop::Enable>, Block::Loop, 0x14, 4, Presence::Always, Start::Zero, BooleanReadData,
     BooleanWriteNumber, BooleanUpdateData},
    {&CreateLeaf<Loop::Error>, Block::Loop, 0x18, 4, Presence::Always, Start::Zero, PLLErrorReadData, nullptr,
     PLLErrorReceivedData},
    {&CreateLeaf<Loop::AutoCenter>, Block::Loop, 0x1c, 4, Presence::Version2Or3, Start::Zero, BooleanReadData,
     BooleanWriteNumber, BooleanUpdateData},
    {&CreateLeaf<Loop::AutoTimeConstant>, Block::Loop, 0x24, 4, Presence::Version2Or3, Start::ExternalOff,
     InvertedBooleanReadData, InvertedBooleanWriteNumber, InvertedBooleanUpdateData},
    {&CreateLeaf<Loop::TimeConstant>, Block::Loop, 0x28, 4, Presence::Version2Or3, Start::TimeConstant,
     DemodTimeConstantReadData, TimeConstantWriteNumber, DemodTimeConstantUpdateData},
    {&CreateLeaf<Loop::AutoPID>, Block::Loop, 0x20, 4, Presence::Version2Or3, Start::ExternalOff,
     InvertedBooleanReadData, InvertedBooleanWriteNumber, InvertedBooleanUpdateData},
    {&CreateLeaf<Loop::PGain>, Block::Loop, 0x2c, 4, Presence::Version2Or3, Start::Gain, PLLPGainReadData,
     PLLPGainWriteNumber, PLLPGainReceivedData, GainLink::Proportional},
    {&CreateLeaf<Loop::ITimeConstant>, Block::Loop, 0x30, 4, Presence::Version2Or3, Start::Zero, PLLITCReadData,
     PLLITCWriteNumber, PLLITCReceivedData, GainLink::Integral},
    {&CreateLeaf<Loop::DTimeConstant>, Block::Loop, 0x34, 4, Presence::Version2Or3, Start::Zero, PLLDTCReadData,
     PLLDTCWriteNumber, PLLDTCReceivedData, GainLink::Derivative},
    {&CreateLeaf<Loop::FreqDelta>, Block::Loop, 0x38, 8, Presence::Version2Or3, Start::Zero, PLLFreqDeltaReadData,
     nullptr, PLLFreqDeltaReceivedData},
    {&CreateLeaf<Loop::ADCThreshold>, Block::Loop, 0x40, 4, Presence::Always, Start::Zero, PLLADCThresholdReadData,
     PLLADCThresholdWriteNumber, PLLADCThresholdReceivedData},
    {&CreateLeaf<Loop::AuxAvg>, Block::Loop, 0x44, 4, Presence::Version2Or3, Start::Zero, PLLAuxAvgReadData,
     PLLAuxAvgWriteNumber, PLLAuxAvgReceivedData},
    {&CreateLeaf<Loop::Setpoint>, Block::Loop, 0x48, 4, Presence::Version2Or3, Start::Zero, PLLSetpointReadData,
     PLLSetpointWriteNumber, PLLSetpointReceivedData},
    {&CreateLeaf<Loop::Harmonic>, Block::Demod67, 0x14, 4, Presence::Always, Start::Harmonic, DemodHarmonicReadData,
     DemodHarmonicWriteNumber, DemodHarmonicUpdateData},
    {&CreateLeaf<Loop::Order>, Block::Demod67, 0x04, 4, Presence::Always, Start::Zero, DemodOrderReadData,
     DemodOrderWriteNumber, DemodOrderUpdateData},
};

bool hasFullLeafSet(uint16_t version) { return version == 2 || version == 3; }

uint64_t startValue(Start start, const DeviceState& state) {
    switch (start) {
        case Start::Input:
            return PllInputWord(state, 0);
        case Start::TimeConstant:
            return ToTC(kStartTimeConstant);
        case Start::Gain:
            return ToPGain(0.0);
        case Start::ExternalOff:
            return kStartExternalOff;
        case Start::Harmonic:
            return kStartHarmonic;
        case Start::Zero:
        default:
            return 0;
    }
}

void storeStart(DeviceStateEPNode& ep, uint64_t value) {
    if (ep.valueSize == 8)
        storeWord64(ep, value);
    else
        storeWord(ep, uint32_t(value));
}

bool isDemods67Row(const FeatureMap& map, int32_t row) {
    if (row < 0 || row >= map.maximum || std::size_t(row) >= map.items.size()) return false;
    const Feature& item = map.items[std::size_t(row)];
    return item.inUse && std::strncmp(item.name, kDemods67Name, 8) == 0;
}

// The demodulator settings block that demodulator 6's lies behind; none when
// the demodulator group did not register one.
const Feature* demodBlock(const DeviceState& state) {
    const int32_t row = familyDataOf(state).signalPath.demodBlockRow;
    if (row < 0 || row >= state.features.maximum || std::size_t(row) >= state.features.items.size()) return nullptr;
    const Feature& item = state.features.items[std::size_t(row)];
    return item.inUse ? &item : nullptr;
}

// Registers the blocks of demodulators 6 and 7 when the instrument lists at
// most six demodulators. Returns the status of a failed insertion.
QV_STATUS registerDemods67(DeviceAccess& device, DeviceStateNodeGroup* group) {
    DeviceState& state = stateOf(device);
    ControlLoopData& loops = familyDataOf(state).controlLoop;
    // A row left from an earlier build. The group's clearing may have freed it
    // already, and a freed row can be taken by another block: only a row
    // still holding this block is cleared.
    // Clearing a row cannot fail.
    if (isDemods67Row(state.features, loops.demods67Row))
        FeatureMapClearRow(state.features, loops.demods67Row).ignore();
    loops.demods67Row = -1;

    const Feature* demods = demodBlock(state);
    if (!demods) {
        QVLOG(logging::debug) << "No DEMODS Feature: the PLLs get no HARMONIC and ORDER.";
        return QV_NO_ERROR;
    }
    const SignalPathData& signal = familyDataOf(state).signalPath;
    const uint64_t base6 = uint64_t(demods->address) + uint64_t(kDemodsUnlisted) * signal.demodBlockStride;
    QVLOG(logging::debug) << "GOT DEMODS Feature! demod6 baseaddress = "
                          << boost::format("0x%08x (0x%08x, cnt=%u, modulo=%u)") % uint32_t(base6) %
                                 demods->address % demods->count % signal.demodBlockStride;
    if (demods->count > kDemodsUnlisted) return QV_NO_ERROR;
    if (base6 > UINT32_MAX) return QV_NO_ERROR;  // no room in the address space behind the six

    Feature* item = nullptr;
    if (QV_STATUS s = FeatureMapInsert(state.features, uint32_t(base6), kDemods67Count, signal.demodBlockStride,
                                       signal.demodBlockAttribute, kDemods67Name, &item))
        return s;
    loops.demods67Row = DeviceStateRowOf(device, item);
    QVLOG(logging::debug) << "created DEMODS6/7 Feature! index = " << loops.demods67Row;
    // The group owns the row, so clearing the group frees it.
    if (group && item) return DeviceStateNodeGroupAddFeatureRow(item, device, *group);
    return QV_NO_ERROR;
}

// Creates one loop's leaves; `loopBlock` is the PLLS block, `demods67` the
// blocks of demodulators 6 and 7 (null when the loop has none there).
QV_STATUS buildLoop(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                    const Feature* loopBlock, const Feature* demods67, int32_t n) {
    DeviceState& state = stateOf(device);
    const bool fullSet = hasFullLeafSet(familyDataOf(state).controlLoop.pllFeatureVersion);
    const TreeNode::Ptr instance = CreateChild<Loop>(groupNode);
    int32_t pgainId = -1;
    int32_t itcId = -1;
    for (const LeafEntry& entry : kLeaves) {
        if (entry.presence == Presence::Version2Or3 && !fullSet) continue;
        const Feature* block = entry.block == Block::Loop ? loopBlock : demods67;
        if (!block) continue;
        const EPNodePtr ep = entry.create(device, group, instance, entry.size, int32_t(entry.size), block, n,
                                         entry.offset, -1);
        BindRegisterSetting(*ep, entry.read, entry.write, entry.update);
        storeStart(*ep, startValue(entry.start, state));
        if (entry.link == GainLink::Proportional) pgainId = ep->epId;
        if (entry.link == GainLink::Integral) itcId = ep->epId;
        if (entry.link == GainLink::Integral || entry.link == GainLink::Derivative)
            if (QV_STATUS s = LinkEndpoints(*ep, {pgainId})) return s;
        if (entry.link == GainLink::Derivative) {
            if (const EPNodePtr pgain = DeviceStateEPNodesFind(state.epNodes, pgainId))
                if (QV_STATUS s = LinkEndpoints(*pgain, {itcId, ep->epId})) return s;
        }
        if (QV_STATUS s = DeviceStateRequestEP(device, ep->epId)) return s;
    }
    return QV_NO_ERROR;
}

}  // namespace

QV_STATUS PLLsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count) {
    if (count != kRecordCount || items.size() != std::size_t(kRecordCount) || !items[0]) return QV_BUFFER_TOO_SMALL;
    const Feature* loopBlock = items[0];
    DeviceState& state = stateOf(device);
    ControlLoopData& loops = familyDataOf(state).controlLoop;
    familyDataOf(state).shared.pllCount = loopBlock->count;
    loops.pllFeatureVersion = version;

    if (QV_STATUS s = registerDemods67(device, group)) return s;
    const Feature* demods67 = nullptr;
    if (loops.demods67Row >= 0) demods67 = &state.features.items[std::size_t(loops.demods67Row)];

    for (uint32_t n = 0; n < loopBlock->count; ++n) {
        const Feature* demodBlockOfLoop = n < kDemods67Count ? demods67 : nullptr;
        if (QV_STATUS s = buildLoop(device, group, groupNode, loopBlock, demodBlockOfLoop, int32_t(n))) return s;
    }
    return QV_NO_ERROR;
}

// Reading, writing and receiving ADCSELECT already limit the input to those
// the instrument has. Re-writing the selection here would send the start
// value to the instrument before its own selection has arrived, so the link
// leaves it alone.
QV_STATUS PLLsFeatureLink(DeviceAccess&, const TreeNode::Ptr&, const std::vector<int>&, int) { return QV_NO_ERROR; }

}  // namespace tarnix
