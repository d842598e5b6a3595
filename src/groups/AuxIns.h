#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct AuxIns : PlainNodeDef<AuxIns, 16, 169> {
    static constexpr const char* name = "AUXINS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of auxiliary inputs.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 9, the auxiliary inputs: a record of two register blocks, the second with twice the
// instances of the first.
QV_STATUS AuxInsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);

}  // namespace tarnix
