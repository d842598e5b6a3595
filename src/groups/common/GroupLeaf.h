#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/nodedefs/NodeDefFamily.h"

#include <cstdint>

// Building a group's leaves: the leaf builder and the handler sets of the
// usual kinds of leaf.
namespace tarnix {

class DeviceAccess;
struct DeviceStateNodeGroup;
struct Feature;

// Makes the leaf of definition T below `parent`: its node, its endpoint with a
// zeroed value buffer of `dataSize` bytes, and its binding to `registerSize`
// bytes at `offset` of `instance` of `record` (none: the leaf exists only in
// the server and never receives register data). `nameIndex` >= 0 gives the leaf
// node an instance index of its own. Throws what DeviceStateCreateEP throws.
template <class T>
EPNodePtr CreateLeaf(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent,
                     uint32_t dataSize, int32_t registerSize, const Feature* record, int32_t instance, int32_t offset,
                     int32_t nameIndex = -1) {
    return DeviceStateCreateFeatureEP<T>(device, group, parent, dataSize, registerSize, record, instance, offset,
                                         nameIndex);
}

// A setting held in the instrument's registers: read, write and update
// handlers, written to and requested from the instrument with the usual
// register handlers.
void BindRegisterSetting(DeviceStateEPNode& ep, ReadDataFunc read, WriteNumberFunc write, UpdateDataFunc update);

// A value the instrument reports and clients only read.
void BindReadOnlyRegister(DeviceStateEPNode& ep, ReadDataFunc read, UpdateDataFunc update);

// A setting kept in the server only: never written to or read from the instrument.
void BindServerSetting(DeviceStateEPNode& ep, ReadDataFunc read, WriteNumberFunc write);

}  // namespace tarnix
