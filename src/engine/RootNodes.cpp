#include "engine/RootNodes.h"

#include "core/tree/DispatcherTreeLock.h"
#include "engine/DeviceState.h"
#include "engine/nodedefs/NodeDefFamily.h"
#include "engine/nodedefs/RootNodeDefs.h"

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;

namespace {

constexpr uint32_t kStatsValueSize = 8;  // one double

// A leaf without registers (row -1, instance 0, offset 0, own index).
template <class T>
EPNodePtr createPlainLeaf(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent,
                          uint32_t valueSize) {
    return DeviceStateCreateEP<T>(device, group, parent, valueSize, 0, -1, 0, 0, -1);
}

using LeafMaker = EPNodePtr (*)(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint32_t);

struct StatsLeaf {
    LeafMaker make;
    StatsValue value;
    bool onChange;  // push only when the value changed
};

void makeStatsLeaves(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent,
                     const StatsLeaf* leaves, std::size_t count) {
    DeviceState& state = stateOf(device);
    for (std::size_t i = 0; i < count; ++i) {
        EPNodePtr ep = leaves[i].make(device, group, parent, kStatsValueSize);
        state.statsEPIds[std::size_t(leaves[i].value)] = ep->epId;
        ep->readData = StatsReadData;
        ep->updateData = leaves[i].onChange ? StatsUpdateOnChange : StatsUpdate;
    }
}

}  // namespace

QV_STATUS DeviceStateCreateDeviceTree(DeviceAccess& device) {
    DeviceState& state = stateOf(device);
    {
        // Listed once announced, when its groups are built and their values in.
        DispatcherTreeCreator creator(device.treeRegistry(), TreeId::device(device.serial()), device.outputFifo(),
                                      device.requestFifo(), false);
        state.tree = creator.getTree();
        state.tree->requestGate = device.requestGate();
    }
    if (QV_STATUS s = DeviceStateCreateStatsNodes(device)) return s;
    if (QV_STATUS s = DeviceStateCreateRawNodes(device)) return s;
    return DeviceStateCreateClockBaseNode(device);
}

QV_STATUS DeviceStateCreateStatsNodes(DeviceAccess& device) {
    DispatcherTreeLocker lock(stateOf(device).tree);
    DeviceStateNodeGroup* group = nullptr;
    if (QV_STATUS s = DeviceStateGetNodeGroup<LQ3::Stats>(device, &group, lock.getNode())) return s;
    static const StatsLeaf transfer[] = {
        {createPlainLeaf<LQ3::Stats::BytesSent>, STATS_BYTES_SENT, true},
        {createPlainLeaf<LQ3::Stats::BytesReceived>, STATS_BYTES_RECEIVED, true},
        {createPlainLeaf<LQ3::Stats::MeanMsgCount>, STATS_MEAN_MSG_COUNT, false},
        {createPlainLeaf<LQ3::Stats::MeanPollCount>, STATS_MEAN_POLL_COUNT, false},
    };
    static const StatsLeaf physical[] = {
        {createPlainLeaf<LQ3::Stats::Physical::V12>, STATS_SUPPLY_1V2, false},
        {createPlainLeaf<LQ3::Stats::Physical::V18>, STATS_SUPPLY_1V8, false},
        {createPlainLeaf<LQ3::Stats::Physical::V25>, STATS_SUPPLY_2V5, false},
        {createPlainLeaf<LQ3::Stats::Physical::V33>, STATS_SUPPLY_3V3, false},
        {createPlainLeaf<LQ3::Stats::Physical::V50>, STATS_SUPPLY_5V0, false},
        {createPlainLeaf<LQ3::Stats::Physical::Temp>, STATS_TEMPERATURE, false},
    };
    makeStatsLeaves(device, group, group->node, transfer, sizeof transfer / sizeof transfer[0]);
    TreeNode::Ptr physicalNode = CreateChild<LQ3::Stats::Physical>(group->node);
    makeStatsLeaves(device, group, physicalNode, physical, sizeof physical / sizeof physical[0]);
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateCreateRawNodes(DeviceAccess& device) {
    DeviceState& state = stateOf(device);
    DispatcherTreeLocker lock(state.tree);
    DeviceStateNodeGroup* group = nullptr;
    if (QV_STATUS s = DeviceStateGetNodeGroup<LQ3::Raw>(device, &group, lock.getNode())) return s;
    TreeNode::Ptr read = CreateChild<LQ3::Raw::Read>(group->node);

    EPNodePtr address = createPlainLeaf<LQ3::Raw::Read::Address>(device, group, read, 0);
    address->readData = RawAddressReadData;
    address->writeNumber = RawAddressWriteNumber;

    EPNodePtr request = createPlainLeaf<LQ3::Raw::Read::Request>(device, group, read, 0);
    request->writeNumber = RawRequestWriteNumber;

    EPNodePtr data = createPlainLeaf<LQ3::Raw::Read::Data>(device, group, read, 0);
    data->updateData = RawDataUpdateData;
    state.rawListenEPId = data->epId;

    EPNodePtr write = createPlainLeaf<LQ3::Raw::Write>(device, group, group->node, 0);
    write->writeBytes = RawWriteBytes;
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateCreateClockBaseNode(DeviceAccess& device) {
    DispatcherTreeLocker lock(stateOf(device).tree);
    // CLOCKBASE belongs to no feature group: its group is a throw-away.
    DeviceStateNodeGroup unowned(0);
    EPNodePtr ep = createPlainLeaf<LQ3::ClockBase>(device, &unowned, lock.getNode(), 0);
    ep->readData = ClockBaseReadData;
    return QV_NO_ERROR;
}

}  // namespace tarnix
