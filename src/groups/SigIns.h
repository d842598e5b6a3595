#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct SigIns : PlainNodeDef<SigIns, 12, 133> {
    static constexpr const char* name = "SIGINS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Signal Input nodes.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 5, the signal inputs: a record of one register block.
QV_STATUS SigInsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);

}  // namespace tarnix
