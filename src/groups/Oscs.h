#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct Oscs : PlainNodeDef<Oscs, 8, 75> {
    static constexpr const char* name = "OSCS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Oscillator nodes.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 4, the oscillators: a record of one register block.
QV_STATUS OscsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);

}  // namespace tarnix
