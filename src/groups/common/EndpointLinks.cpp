#include "groups/common/EndpointLinks.h"

#include "platform/endian/ByteOrder.h"
#include "engine/DeviceState.h"

#include <vector>

namespace tarnix {

namespace {

constexpr std::size_t kIdBytes = 4;

}  // namespace

QV_STATUS LinkEndpoints(DeviceStateEPNode& ep, std::initializer_list<int32_t> ids) {
    std::vector<uint8_t> bytes(ids.size() * kIdBytes);
    std::size_t at = 0;
    for (int32_t id : ids) {
        le::put32(bytes.data() + at, uint32_t(id));
        at += kIdBytes;
    }
    return DeviceStateEPNodeSetBytes(ep, uint32_t(bytes.size()), bytes.data());
}

int32_t LinkedEndpointId(const DeviceStateEPNode& ep, std::size_t index) {
    if (ep.bytes.size() < (index + 1) * kIdBytes) return -1;
    return int32_t(le::get32(ep.bytes.data() + index * kIdBytes));
}

EPNodePtr LinkedEndpoint(DeviceAccess& device, const DeviceStateEPNode& ep, std::size_t index) {
    const int32_t id = LinkedEndpointId(ep, index);
    if (id < 0) return EPNodePtr();
    return DeviceStateEPNodesFind(stateOf(device).epNodes, id);
}

}  // namespace tarnix
