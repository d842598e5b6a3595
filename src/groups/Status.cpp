#include "groups/Status.h"

#include "platform/endian/ByteOrder.h"
#include "core/tree/TreeEndpoints.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/BlockChecks.h"
#include "groups/DemodSample.h"
#include "groups/common/BooleanUpdateData.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/ValueReplies.h"

#include <array>

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;

namespace {

constexpr uint32_t kFlagValueBytes = 4;
constexpr uint32_t kIdBytes = 4;
constexpr std::size_t kAdcEndpoints = 4;
constexpr double kPercentPerFifoUnit = 100.0 / 255.0;
constexpr uint32_t kDemodSampleLossBit = 9;

int64_t adcValue(uint8_t raw) { return int64_t(int8_t(raw)); }

double fifoPercent(uint8_t raw) { return raw * kPercentPerFifoUnit; }

template <class T>
QV_STATUS makeFlag(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent,
                   DeviceStateEPNode& binary, std::size_t bit) {
    int32_t id = -1;
    if (QV_STATUS s = StatusFlagEPCreate<T>(device, group, parent, id)) return s;
    le::put32(binary.bytes.data() + bit * kIdBytes, uint32_t(id));
    return QV_NO_ERROR;
}

QV_STATUS makeFlags(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& flags,
                    DeviceStateEPNode& binary) {
    using F = LQ3::Status::Flags;
    if (QV_STATUS s = makeFlag<F::PllLock>(device, group, flags, binary, 0)) return s;
    if (QV_STATUS s = makeFlag<F::DcmLock>(device, group, flags, binary, 1)) return s;
    if (QV_STATUS s = makeFlag<F::Fx2Rx>(device, group, flags, binary, 2)) return s;
    if (QV_STATUS s = makeFlag<F::PkgLoss>(device, group, flags, binary, 3)) return s;
    const TreeNode::Ptr mixerClip = CreateChild<F::MixerClip>(flags);
    if (QV_STATUS s = makeFlag<F::MixerClip::Instance>(device, group, mixerClip, binary, 4)) return s;
    if (QV_STATUS s = makeFlag<F::MixerClip::Instance>(device, group, mixerClip, binary, 5)) return s;
    const TreeNode::Ptr adcClip = CreateChild<F::AdcClip>(flags);
    if (QV_STATUS s = makeFlag<F::AdcClip::Instance>(device, group, adcClip, binary, 6)) return s;
    if (QV_STATUS s = makeFlag<F::AdcClip::Instance>(device, group, adcClip, binary, 7)) return s;
    if (QV_STATUS s = makeFlag<F::ScopeSkipped>(device, group, flags, binary, 8)) return s;
    return makeFlag<F::DemodSampleLoss>(device, group, flags, binary, kDemodSampleLossBit);
}

// The four ADC extremes: ADC0MIN carries the data of all four, the others are
// bound without registers so that the engine's at most four bindings of one
// delivered block are those that carry data.
QV_STATUS makeAdcExtremes(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& root,
                          const Feature* item) {
    const std::array<EPNodePtr, kAdcEndpoints> eps = {
        CreateLeaf<LQ3::Status::ADC0Min>(device, group, root, status::kAdcBytes, int32_t(status::kAdcBytes), item,
                                         0, int32_t(status::kAdcOffset)),
        CreateLeaf<LQ3::Status::ADC0Max>(device, group, root, 0, 0, item, 0, 0),
        CreateLeaf<LQ3::Status::ADC1Min>(device, group, root, 0, 0, item, 0, 0),
        CreateLeaf<LQ3::Status::ADC1Max>(device, group, root, 0, 0, item, 0, 0)};
    eps[0]->updateData = StatusAdcExtremeUpdateData;
    uint8_t table[kAdcEndpoints * kIdBytes];
    for (std::size_t k = 0; k < kAdcEndpoints; ++k) {
        eps[k]->readData = StatusAdcExtremeReadData;
        le::put32(table + k * kIdBytes, uint32_t(eps[k]->epId));
    }
    for (const EPNodePtr& ep : eps)
        if (QV_STATUS s = DeviceStateEPNodeSetBytes(*ep, sizeof table, table)) return s;
    return QV_NO_ERROR;
}

}  // namespace

template <class T>
QV_STATUS StatusFlagEPCreate(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent,
                             int32_t& idSlot) {
    DeviceState& state = stateOf(device);
    const TreeNode::Ptr node = CreateChild<T>(parent);
    if (QV_STATUS s = DispatcherTreeAddEndpoint(state.tree, node, 0, &idSlot)) return s;
    EPNodePtr ep = DeviceStateEPNodesAdd(state.epNodes, idSlot, kFlagValueBytes);
    ep->readData = BooleanReadData;
    ep->updateData = BooleanUpdateData;
    if (!group) return QV_VALUE_NOT_FOUND;
    return DeviceStateNodeGroupRegisterEP(*group, ep);
}

QV_STATUS StatusFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t, const std::vector<Feature*>& items, int count) {
    if (QV_STATUS s = GroupCheckBlocks(items, count, 1)) return s;
    const Feature* item = items[0];

    EPNodePtr time = CreateLeaf<LQ3::Status::Time>(device, group, groupNode, status::kTimeBytes,
                                                   int32_t(status::kTimeBytes), item, 0, int32_t(status::kTimeOffset));
    BindReadOnlyRegister(*time, StatusTimeReadData, StatusTimeUpdateData);

    const TreeNode::Ptr flags = CreateChild<LQ3::Status::Flags>(groupNode);
    EPNodePtr binary =
        CreateLeaf<LQ3::Status::Flags::Binary>(device, group, flags, 4, 4, item, 0, int32_t(status::kFlagsOffset));
    BindReadOnlyRegister(*binary, IntegerReadData, StatusBinaryUpdateData);
    if (QV_STATUS s = DeviceStateEPSetBytes(*binary, status::kFlagCount * kIdBytes, nullptr)) return s;
    if (QV_STATUS s = makeFlags(device, group, flags, *binary)) return s;

    EPNodePtr fifoLevel =
        CreateLeaf<LQ3::Status::FifoLevel>(device, group, groupNode, 1, 1, item, 0, int32_t(status::kFifoLevelOffset));
    BindReadOnlyRegister(*fifoLevel, StatusFifoLevelReadData, StatusFifoLevelUpdateData);

    return makeAdcExtremes(device, group, groupNode, item);
}

QV_STATUS StatusTimeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    const uint64_t cached = ep->value.size() >= 8 ? le::get64(ep->value.data()) : 0;
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, int64_t(cached));
}

QV_STATUS StatusTimeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    // The 48-bit time is the u32 at 0 and the u16 at 4; bytes 6 and 7 do not count.
    if (!data || length < 6 || ep->value.size() < 8) return QV_BUFFER_TOO_SMALL;
    const uint64_t time = stateOf(device).statusTimeExtender.extend(le::get32(data), le::get16(data + 4));
    if (time == le::get64(ep->value.data())) return QV_NO_ERROR;
    le::put64(ep->value.data(), time);
    return pushInteger(device, ep->epId, int64_t(time));
}

QV_STATUS StatusBinaryUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    if (!data || length < 4 || ep->value.size() < 4) return QV_BUFFER_TOO_SMALL;
    const uint32_t word = le::get32(data);
    // Every block counts here, also one like the block before.
    DemodSampleLossStatus(device, ((word >> kDemodSampleLossBit) & 1u) != 0);
    if (word == storedWord(*ep)) return QV_NO_ERROR;
    storeWord(*ep, word);
    if (QV_STATUS s = pushInteger(device, ep->epId, int64_t(word))) return s;

    const DeviceStateEPNodes& nodes = stateOf(device).epNodes;
    for (uint32_t bit = 0; bit < status::kFlagCount; ++bit) {
        const EPNodePtr flag = DeviceStateEPNodesFind(nodes, LinkedEndpointId(*ep, bit));
        if (!flag || !flag->updateData) continue;
        uint8_t value[kFlagValueBytes];
        le::put32(value, (word >> bit) & 1u);
        if (QV_STATUS s = flag->updateData(device, flag, value, sizeof value)) return s;
    }
    return QV_NO_ERROR;
}

QV_STATUS StatusFifoLevelReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    const uint8_t cached = ep->value.empty() ? 0 : ep->value[0];
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, fifoPercent(cached));
}

QV_STATUS StatusFifoLevelUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                    uint32_t length) {
    if (!data || length < 1 || ep->value.empty()) return QV_BUFFER_TOO_SMALL;
    if (data[0] == ep->value[0]) return QV_NO_ERROR;
    ep->value[0] = data[0];
    return pushDouble(device, ep->epId, fifoPercent(data[0]));
}

QV_STATUS StatusAdcExtremeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                     uint32_t length) {
    if (!data || length < kAdcEndpoints || ep->value.size() < kAdcEndpoints) return QV_BUFFER_TOO_SMALL;
    // The cache is taken over only once every change is out, so that a lost
    // push is made again with the next block.
    for (std::size_t k = 0; k < kAdcEndpoints; ++k) {
        if (data[k] == ep->value[k]) continue;
        if (QV_STATUS s = pushInteger(device, LinkedEndpointId(*ep, k), adcValue(data[k]))) return s;
    }
    std::copy(data, data + kAdcEndpoints, ep->value.begin());
    return QV_NO_ERROR;
}

QV_STATUS StatusAdcExtremeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    std::size_t k = 0;
    while (k < kAdcEndpoints && LinkedEndpointId(*ep, k) != ep->epId) ++k;
    if (k == kAdcEndpoints) return QV_VALUE_NOT_FOUND;
    const EPNodePtr carrier = DeviceStateEPNodesFind(stateOf(device).epNodes, LinkedEndpointId(*ep, 0));
    const uint8_t raw = carrier && carrier->value.size() > k ? carrier->value[k] : 0;
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, adcValue(raw));
}

}  // namespace tarnix
