#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct DIOs : PlainNodeDef<DIOs, 15, 160> {
    static constexpr const char* name = "DIOS";
    static constexpr HelpItem helpItems[] = {helpText("short", "DIO nodes.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 10, the digital I/O: a record of two register blocks, the second with twice the instances of
// the first.
QV_STATUS DIOsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);

}  // namespace tarnix
