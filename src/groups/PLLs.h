#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct PLLs : PlainNodeDef<PLLs, 10, 84> {
    static constexpr const char* name = "PLLS";
    static constexpr HelpItem helpItems[] = {helpText("short", "PLL nodes.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 16, the phase-locked loops: a record of one register block.
QV_STATUS PLLsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);
// Runs once every group of a list exists.
QV_STATUS PLLsFeatureLink(DeviceAccess& device, const TreeNode::Ptr& groupNode, const std::vector<int>& ids, int count);

}  // namespace tarnix
