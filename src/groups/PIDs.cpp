#include "groups/PIDs.h"

#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/PIDsHandlers.h"
#include "groups/common/BooleanUpdateData.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/SharedWriteHandlers.h"
#include "groups/data/GroupFamilyData.h"

#include <array>
#include <utility>

namespace tarnix {

namespace {

namespace LQ3 = NodeDefs::LQ3;
using Controller = LQ3::PIDs::Instance;
using TipProtect = Controller::TipProtect;

constexpr int kRecordCount = 3;
constexpr uint32_t kRegisterBytes = 4;

// Offsets in the common block (record 0).
constexpr int32_t kRateOffset = 0x04;
constexpr int32_t kTipProtectStatusOffset = 0x08;

using CreateFn = EPNodePtr (*)(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint32_t, int32_t,
                               const Feature*, int32_t, int32_t, int32_t);
using ReadFn = QV_STATUS (*)(DeviceAccess&, const EPNodePtr&, uint16_t, uint16_t);
using WriteFn = QV_STATUS (*)(DeviceAccess&, const EPNodePtr&, uint16_t, uint16_t, double, int64_t);
using UpdateFn = QV_STATUS (*)(DeviceAccess&, const EPNodePtr&, const uint8_t*, uint32_t);

// How the register of a leaf reaches the instrument.
enum class Access {
    None,        // no register of its own: works on another leaf's word
    ReadOnly,    // requested only
    ReadWrite,   // requested, and written with the update strobe
};

// One leaf of a controller: its definition, its place in the controller's
// register block and its handlers.
struct LeafEntry {
    CreateFn create;
    int32_t offset;
    Access access;
    ReadFn read;
    WriteFn write;
    UpdateFn update;
};

// Leaves INPUT to ENABLE of a controller, in creation order.
const LeafEntry kControllerLeaves[] = {
    {&CreateLeaf<Controller::Input>, 0x00, Access::ReadWrite, PIDInputReadData, PIDInputWriteNumber,
     PIDInputUpdateData},
    {&CreateLeaf<Controller::InputChannel>, 0x00, Access::None, PIDInputChannelReadData, PIDInputChannelWriteNumber,
     nullptr},
    {&CreateLeaf<Controller::Output>, 0x00, Access::None, PIDOutputReadData, PIDOutputWriteNumber, nullptr},
    {&CreateLeaf<Controller::OutputChannel>, 0x00, Access::None, PIDOutputChannelReadData,
     PIDOutputChannelWriteNumber, nullptr},
    {&CreateLeaf<Controller::OutputDefaultEnable>, 0x2C, Access::ReadWrite, BooleanReadData, BooleanWriteNumber,
     BooleanUpdateData},
    {&CreateLeaf<Controller::OutputDefault>, 0x30, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber,
     PIDFloatUpdateData},
    {&CreateLeaf<Controller::MonitorOffset>, 0x24, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber,
     PIDFloatUpdateData},
    {&CreateLeaf<Controller::MonitorScale>, 0x28, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber,
     PIDFloatUpdateData},
    {&CreateLeaf<Controller::P>, 0x04, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber, PIDFloatUpdateData},
    {&CreateLeaf<Controller::I>, 0x08, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber, PIDFloatUpdateData},
    {&CreateLeaf<Controller::D>, 0x0C, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber, PIDFloatUpdateData},
    {&CreateLeaf<Controller::SetPoint>, 0x14, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber,
     PIDFloatUpdateData},
    {&CreateLeaf<Controller::SetPointSelect>, 0x34, Access::ReadWrite, ClampTo3ReadData, ClampTo3WriteNumber,
     PIDSetPointSelectUpdateData},
    {&CreateLeaf<Controller::Error>, 0x10, Access::ReadOnly, PIDFloatReadData, nullptr, PIDFloatUpdateData},
    {&CreateLeaf<Controller::Center>, 0x18, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber,
     PIDFloatUpdateData},
    {&CreateLeaf<Controller::Range>, 0x1C, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber,
     PIDFloatUpdateData},
    {&CreateLeaf<Controller::Shift>, 0x20, Access::ReadOnly, PIDFloatReadData, nullptr, PIDFloatUpdateData},
    {&CreateLeaf<Controller::Enable>, 0x00, Access::None, PIDEnableReadData, PIDEnableWriteNumber, nullptr},
};
constexpr std::size_t kControllerLeafCount = sizeof(kControllerLeaves) / sizeof(kControllerLeaves[0]);

// Where the leaves of the controller list are among kControllerLeaves.
constexpr std::array<std::size_t, kPidControllerListSize - 1> kListedLeaves = {0, 1, 2, 3, 8, 9, 10, 11, 13,
                                                                             14, 15, 16, 17};

const LeafEntry kTipProtectEnable = {&CreateLeaf<TipProtect::Enable>, 0x38, Access::ReadWrite,
                                    PIDTipProtectEnableReadData, PIDTipProtectEnableWriteNumber,
                                    PIDTipProtectEnableUpdateData};
const LeafEntry kTipProtectPll = {&CreateLeaf<TipProtect::PLL>, 0x00, Access::None, PIDTipProtectPLLReadData,
                                 PIDTipProtectPLLWriteNumber, nullptr};

// The four time-constant and threshold leaves that end a TIPPROTECT branch.
const LeafEntry kTipProtectSettings[] = {
    {&CreateLeaf<TipProtect::ActiveTimeConstant>, 0x3C, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber,
     PIDFloatUpdateData},
    {&CreateLeaf<TipProtect::ActiveThreshold>, 0x40, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber,
     PIDFloatUpdateData},
    {&CreateLeaf<TipProtect::InactiveTimeConstant>, 0x44, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber,
     PIDFloatUpdateData},
    {&CreateLeaf<TipProtect::InactiveThreshold>, 0x48, Access::ReadWrite, PIDFloatReadData, PIDFloatWriteNumber,
     PIDFloatUpdateData},
};

void installHandlers(DeviceStateEPNode& ep, const LeafEntry& entry) {
    ep.readData = entry.read;
    ep.writeNumber = entry.write;
    ep.updateData = entry.update;
    if (entry.access == Access::ReadWrite) ep.writeData = PIDWriteData;
    if (entry.access != Access::None) ep.requestData = DeviceStateEPRequestRegisters;
}

// Creates a leaf with its handlers; a leaf with a register of its own starts
// at 0 and is requested from the instrument.
QV_STATUS createLeaf(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent,
                     const LeafEntry& entry, const Feature* item, int32_t instance, EPNodePtr& ep) {
    const uint32_t size = entry.access == Access::None ? 0 : kRegisterBytes;
    ep = entry.create(device, group, parent, size, int32_t(size), item, instance, entry.offset, -1);
    installHandlers(*ep, entry);
    if (size == 0) return QV_NO_ERROR;
    storeWord(*ep, 0);
    return DeviceStateRequestEP(device, ep->epId);
}

// RATE and TIPPROTECT/ACTIVE: controller 0's holds the common register; the
// others have no register of their own and read through it. Their binding
// (`viewItem`, `viewInstance`) differs between the two leaves.
QV_STATUS createCommonView(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent,
                           LeafEntry entry, bool holder, const Feature* commonBlock, const Feature* viewItem,
                           int32_t viewInstance, EPNodePtr& ep) {
    if (holder) return createLeaf(device, group, parent, entry, commonBlock, 0, ep);
    entry.access = Access::None;
    entry.offset = 0;
    entry.update = nullptr;
    return createLeaf(device, group, parent, entry, viewItem, viewInstance, ep);
}

template <std::size_t N, std::size_t... I>
QV_STATUS giveList(DeviceStateEPNode& ep, const std::array<int32_t, N>& ids, std::index_sequence<I...>) {
    return LinkEndpoints(ep, {ids[I]...});
}

template <std::size_t N>
QV_STATUS giveList(DeviceStateEPNode& ep, const std::array<int32_t, N>& ids) {
    return giveList(ep, ids, std::make_index_sequence<N>{});
}

// Gives every endpoint of the list that exists a copy of the whole list.
template <std::size_t N>
QV_STATUS shareList(DeviceAccess& device, const std::array<int32_t, N>& ids) {
    for (int32_t id : ids) {
        const EPNodePtr ep = DeviceStateEPNodesFind(stateOf(device).epNodes, id);
        if (!ep) continue;
        if (QV_STATUS s = giveList(*ep, ids)) return s;
    }
    return QV_NO_ERROR;
}

struct BuildContext {
    DeviceAccess& device;
    DeviceStateNodeGroup* group;
    const Feature* commonBlock;
    const Feature* controllerBlock;
    std::array<int32_t, kPidActiveListSize> activeList;
};

QV_STATUS buildController(BuildContext& ctx, const TreeNode::Ptr& groupNode, int32_t n) {
    DeviceAccess& device = ctx.device;
    ControlLoopData& loops = familyDataOf(stateOf(device)).controlLoop;
    const TreeNode::Ptr instance = CreateChild<Controller>(groupNode);

    std::array<EPNodePtr, kControllerLeafCount> leaves;
    for (std::size_t i = 0; i < kControllerLeafCount; ++i)
        if (QV_STATUS s =
                createLeaf(device, ctx.group, instance, kControllerLeaves[i], ctx.controllerBlock, n, leaves[i]))
            return s;

    const LeafEntry rateEntry = {&CreateLeaf<Controller::Rate>, kRateOffset, Access::ReadOnly, PIDRateReadData,
                               nullptr, PIDRateUpdateData};
    EPNodePtr rate;
    if (QV_STATUS s =
            createCommonView(device, ctx.group, instance, rateEntry, n == 0, ctx.commonBlock, ctx.commonBlock, 0, rate))
        return s;
    if (n == 0) loops.pidRate = 0.0;
    if (std::size_t(n) < loops.pidRateEndpoints.size()) loops.pidRateEndpoints[std::size_t(n)] = rate->epId;

    std::array<int32_t, kPidControllerListSize> controllerList;
    for (std::size_t i = 0; i < kListedLeaves.size(); ++i) controllerList[i] = leaves[kListedLeaves[i]]->epId;
    controllerList[kPidListRate] = rate->epId;
    if (QV_STATUS s = shareList(device, controllerList)) return s;

    const TreeNode::Ptr tipProtect = CreateChild<TipProtect>(instance);
    EPNodePtr tipEnable, tipPll;
    if (QV_STATUS s = createLeaf(device, ctx.group, tipProtect, kTipProtectEnable, ctx.controllerBlock, n, tipEnable))
        return s;
    if (QV_STATUS s = createLeaf(device, ctx.group, tipProtect, kTipProtectPll, ctx.controllerBlock, n, tipPll))
        return s;
    if (QV_STATUS s = shareList(device, std::array<int32_t, kPidTipProtectListSize>{{tipEnable->epId, tipPll->epId}}))
        return s;

    const LeafEntry activeEntry = {&CreateLeaf<TipProtect::Active>, kTipProtectStatusOffset, Access::ReadOnly,
                                 PIDTipProtectActiveReadData, nullptr, PIDTipProtectActiveUpdateData};
    EPNodePtr active;
    if (QV_STATUS s = createCommonView(device, ctx.group, tipProtect, activeEntry, n == 0, ctx.commonBlock,
                                       ctx.controllerBlock, n, active))
        return s;
    ctx.activeList[std::size_t(n)] = active->epId;

    for (const LeafEntry& entry : kTipProtectSettings) {
        EPNodePtr ep;
        if (QV_STATUS s = createLeaf(device, ctx.group, tipProtect, entry, ctx.controllerBlock, n, ep)) return s;
    }
    return QV_NO_ERROR;
}

}  // namespace

QV_STATUS PIDsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t, const std::vector<Feature*>& items, int count) {
    if (count != kRecordCount || items.size() != std::size_t(kRecordCount) || !items[0] || !items[1])
        return QV_BUFFER_TOO_SMALL;
    const Feature* commonBlock = items[0];
    const Feature* controllerBlock = items[1];
    if (commonBlock->count != 1 || controllerBlock->count == 0) return QV_NO_ERROR;

    DeviceState& state = stateOf(device);
    uint32_t controllers = controllerBlock->count;
    // The TipProtect status word has a bit for each of the first 16 controllers.
    const uint32_t supported = uint32_t(kPidActiveListSize);
    if (controllers > supported) {
        QVLOG(logging::warning) << "The instrument lists " << controllers << " PID controllers; only the first "
                                << supported << " are shown.";
        controllers = supported;
    }
    state.pidStrobeEnable = 1;
    state.pidStrobeAddress = commonBlock->address;
    familyDataOf(state).shared.pidCount = controllers;
    familyDataOf(state).controlLoop.pidRateEndpoints.assign(controllers, -1);

    BuildContext ctx{device, group, commonBlock, controllerBlock, {}};
    ctx.activeList.fill(-1);
    for (uint32_t n = 0; n < controllers; ++n)
        if (QV_STATUS s = buildController(ctx, groupNode, int32_t(n))) return s;
    return shareList(device, ctx.activeList);
}

}  // namespace tarnix
