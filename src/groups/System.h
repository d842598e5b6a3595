#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct System : PlainNodeDef<System, 2, 18> {
    static constexpr const char* name = "SYSTEM";
    static constexpr HelpItem helpItems[] = {helpText("short", "Nodes providing system information and settings.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 12, the system nodes: a record of one register block.
QV_STATUS SystemFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);

}  // namespace tarnix
