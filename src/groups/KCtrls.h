#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct KCtrls : PlainNodeDef<KCtrls, 19, 187> {
    static constexpr const char* name = "KCTRLS";
    static constexpr HelpItem helpItems[] = {
        helpText("short", "Node containing connected KControl devices."),
        helpText("note", "There has to be a device connected to either KCtrl1 or KCtrl2 on the backplane that "
                         "children of this node appear.")};
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 14, the KCtrl ports: the record is processed, not checked, and
// processed again each time the instrument delivers its list anew.
QV_STATUS LQ3ReadFeaturesKCtrl(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                               uint16_t version, const char* name8, const uint8_t* data, uint32_t length);

}  // namespace tarnix
