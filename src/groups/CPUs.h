#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct CPUs : PlainNodeDef<CPUs, 18, 180> {
    static constexpr const char* name = "CPUS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Nodes for the real-time cpus.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 13, the real-time CPUs: a record of three register blocks.
QV_STATUS CPUsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);

}  // namespace tarnix
