#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct Status : PlainNodeDef<Status, 4, 26> {
    static constexpr const char* name = "STATUS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Nodes providing status information from the device.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 11, the status word: a record of one register block.
QV_STATUS StatusFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);

}  // namespace tarnix
