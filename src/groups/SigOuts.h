#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct SigOuts : PlainNodeDef<SigOuts, 13, 139> {
    static constexpr const char* name = "SIGOUTS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Signal Output nodes.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 6, the signal outputs: a record of two register blocks, the second with as many instances as
// the first.
QV_STATUS SigOutsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                             uint16_t version, const std::vector<Feature*>& items, int count);
// Runs once every group of a list exists.
QV_STATUS SigOutsFeatureLink(DeviceAccess& device, const TreeNode::Ptr& groupNode,
                             const std::vector<int>& ids, int count);

}  // namespace tarnix
