#pragma once
#include "core/QVStatus.h"
#include "core/tree/TreeNode.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// Read handlers and a lookup that many node groups share.
namespace tarnix {

class DeviceAccess;

// Replies 1 when the stored 32-bit word is nonzero, else 0 (integer).
QV_STATUS BooleanReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
// Replies the stored 32-bit word as an unsigned value (integer).
QV_STATUS IntegerReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
// Replies the stored 32-bit word, taken as unsigned, limited to 3 (integer).
QV_STATUS ClampTo3ReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);

// The endpoint of the first direct child of `parent`, in child order, whose
// node type id is `typeId` and that has an endpoint; empty when none does.
EPNodePtr FindChildEPByType(const DeviceStateEPNodes& nodes, const TreeNode::Ptr& parent, int typeId);

}  // namespace tarnix
