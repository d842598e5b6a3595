#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct Mods : PlainNodeDef<Mods, 9, 78> {
    static constexpr const char* name = "MODS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Modulator option nodes.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 18, the modulators: a record of one register block.
QV_STATUS ModsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);

}  // namespace tarnix
