#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct AuxOuts : PlainNodeDef<AuxOuts, 17, 173> {
    static constexpr const char* name = "AUXOUTS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of Auxiliary outputs.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 8, the auxiliary outputs: a record of one register block.
QV_STATUS AuxOutsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                             uint16_t version, const std::vector<Feature*>& items, int count);
// Runs once every group of a list exists.
QV_STATUS AuxOutsFeatureLink(DeviceAccess& device, const TreeNode::Ptr& groupNode,
                             const std::vector<int>& ids, int count);

}  // namespace tarnix
