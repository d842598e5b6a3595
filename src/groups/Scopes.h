#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct Scopes : PlainNodeDef<Scopes, 14, 150> {
    static constexpr const char* name = "SCOPES";
    static constexpr HelpItem helpItems[] = {helpText("short", "Scope nodes.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 7, the scopes: a record of two register blocks, the second with as many instances as the
// first.
QV_STATUS ScopesFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);

}  // namespace tarnix
