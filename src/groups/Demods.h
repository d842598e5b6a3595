#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct Demods : PlainNodeDef<Demods, 7, 63> {
    static constexpr const char* name = "DEMODS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Demodulator nodes.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 3, the demodulators: a record of two register blocks, the second with twice the instances of
// the first.
QV_STATUS DemodsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);
// Runs once every group of a list exists.
QV_STATUS DemodsFeatureLink(DeviceAccess& device, const TreeNode::Ptr& groupNode,
                            const std::vector<int>& ids, int count);

}  // namespace tarnix
