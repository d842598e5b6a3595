#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct PIDs : PlainNodeDef<PIDs, 11, 104> {
    static constexpr const char* name = "PIDS";
    static constexpr HelpItem helpItems[] = {helpText("short", "PID nodes.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 19, the PID controllers: a record of three register blocks.
QV_STATUS PIDsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);

}  // namespace tarnix
