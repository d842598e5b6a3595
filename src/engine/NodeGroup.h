#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <map>
#include <memory>
#include <set>

namespace tarnix {

class DeviceAccess;
class TreeNode;
struct Feature;

// The nodes, endpoints and register-map rows that one feature group made, so
// that the group can be emptied and built again as a whole.
struct DeviceStateNodeGroup {
    int typeId = 0;  // node type id of the group's root definition
    std::shared_ptr<TreeNode> node;
    std::map<int32_t, EPNodePtr> eps;
    std::set<int> rows;

    explicit DeviceStateNodeGroup(int groupTypeId) : typeId(groupTypeId) {}
};

QV_STATUS DeviceStateNodeGroupRegisterEP(DeviceStateNodeGroup& group, const EPNodePtr& ep);
QV_STATUS DeviceStateNodeGroupAddFeatureRow(const Feature* item, DeviceAccess& device, DeviceStateNodeGroup& group);
std::shared_ptr<TreeNode> DeviceStateNodeGroupNode(const DeviceStateNodeGroup& group);
// Removes the group's endpoints, register-map rows and the children of its
// node; the group and its node stay. Needs the device's tree locked.
QV_STATUS DeviceStateNodeGroupClear(DeviceAccess& device, DeviceStateNodeGroup& group);

// Binds the endpoint's registers in one more instance of its row.
QV_STATUS DeviceStateEPAddSubfeature(DeviceAccess& device, const EPNodePtr& ep, int instance, int offset);
// Gives the endpoint a stream buffer of the given data type. Needs the tree locked.
QV_STATUS DeviceStateBufferEP(DeviceAccess& device, const EPNodePtr& ep, uint16_t dataType);

}  // namespace tarnix
