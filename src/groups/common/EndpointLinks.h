#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

// Leaves that share a register word, or must reach one another, keep each
// other's endpoint ids in their byte buffers (u32 each, little-endian) instead
// of searching the tree.
namespace tarnix {

class DeviceAccess;

// Replaces the endpoint's byte buffer by the given ids.
QV_STATUS LinkEndpoints(DeviceStateEPNode& ep, std::initializer_list<int32_t> ids);

// The id at `index` of the byte buffer; -1 when the buffer holds none there.
int32_t LinkedEndpointId(const DeviceStateEPNode& ep, std::size_t index);

// The endpoint of that id; empty when there is none.
EPNodePtr LinkedEndpoint(DeviceAccess& device, const DeviceStateEPNode& ep, std::size_t index);

}  // namespace tarnix
