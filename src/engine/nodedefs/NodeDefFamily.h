#pragma once
#include "core/QVStatus.h"
#include "core/tree/NodeDef.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

namespace tarnix {

class DeviceAccess;
struct DeviceStateNodeGroup;
struct Feature;

// The device's node group of the given type, made with its node below `parent`
// (through `makeNode`) when the device has none yet.
QV_STATUS DeviceStateGetNodeGroupOfType(DeviceAccess& device, int32_t typeId, DeviceStateNodeGroup** out,
                                        const TreeNode::Ptr& parent, TreeNode::Ptr (*makeNode)(const TreeNode::Ptr&));

// Makes a fresh leaf node an endpoint: its endpoint in the device's tree, its
// endpoint record, its register binding and its registration in the group.
// Throws QVException "Can't add endpoint.", "Can't add subfeature." or
// "Can't register epnode.".
EPNodePtr DeviceStateBindLeaf(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& node,
                              uint32_t valueSize, int32_t registerSize, int32_t row, int32_t instance, int32_t offset,
                              int32_t nameIndex);

// Row of an item in the device's register map, -1 for none or a foreign item.
int32_t DeviceStateRowOf(DeviceAccess& device, const Feature* item);

// The node group of definition G: found by G's node type id, or made with G's
// node below `parent`. Always returns 0.
template <class G>
QV_STATUS DeviceStateGetNodeGroup(DeviceAccess& device, DeviceStateNodeGroup** out, const TreeNode::Ptr& parent) {
    return DeviceStateGetNodeGroupOfType(device, G::nodeTypeId, out, parent, &CreateChild<G>);
}

// A leaf of definition T below `parent` that is an endpoint of the device.
template <class T>
EPNodePtr DeviceStateCreateEP(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent,
                              uint32_t valueSize, int32_t registerSize, int32_t row, int32_t instance, int32_t offset,
                              int32_t nameIndex) {
    TreeNode::Ptr node = CreateChild<T>(parent);
    return DeviceStateBindLeaf(device, group, node, valueSize, registerSize, row, instance, offset, nameIndex);
}

// The same for callers holding the register block's item (null: no registers).
template <class T>
EPNodePtr DeviceStateCreateFeatureEP(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent,
                                     uint32_t valueSize, int32_t registerSize, const Feature* item, int32_t instance,
                                     int32_t offset, int32_t nameIndex) {
    return DeviceStateCreateEP<T>(device, group, parent, valueSize, registerSize, DeviceStateRowOf(device, item),
                                  instance, offset, nameIndex);
}

}  // namespace tarnix
