#pragma once
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"
#include "groups/common/InstanceNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct AuxOuts : PlainNodeDef<AuxOuts, 17, 173> {
    static constexpr const char* name = "AUXOUTS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of Auxiliary outputs.")};

    struct Instance : InstanceNodeDef<Instance, 174> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of an Auxiliary output.")};

        struct Value : PlainNodeDef<Value, 1, 175> {
            static constexpr const char* name = "VALUE";
            static constexpr HelpItem helpItems[] = {helpInteger("precision", 3), helpText("short", "Output value."),
                                                     helpText("read", "double"),   helpText("unit", "V"),
                                                     helpDouble("from", -10.0),    helpDouble("to", 10.0)};
        };
        struct OutputSelect : PlainNodeDef<OutputSelect, 2, 176> {
            static constexpr const char* name = "OUTPUTSELECT";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpText("short", "Signal to be given out."),
                                                     helpText("read", "integer"), helpText("write", "integer"),
                                                     helpValues("values", values)};
        };
        struct DemodSelect : PlainNodeDef<DemodSelect, 3, 177> {
            static constexpr const char* name = "DEMODSELECT";
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpText("short", "Source demodulator."),
                                                     helpText("read", "integer"),
                                                     helpText("write", "integer"),
                                                     helpInteger("default", 0),
                                                     helpText("unit", "Index")};
        };
        struct Scale : PlainNodeDef<Scale, 4, 178> {
            static constexpr const char* name = "SCALE";
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true), helpInteger("precision", 2),
                                                     helpText("short", "Scaling of the signal which is given out."),
                                                     helpText("read", "double"), helpText("write", "double")};
        };
        struct Offset : PlainNodeDef<Offset, 5, 179> {
            static constexpr const char* name = "OFFSET";
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpInteger("precision", 3),
                                                     helpText("short", "Value to be added to the output."),
                                                     helpText("detailed", "The offset value is applied after scaling."),
                                                     helpText("read", "double"),
                                                     helpText("write", "double"),
                                                     helpText("unit", "V"),
                                                     helpDouble("from", -2560.0),
                                                     helpDouble("to", 2560.0),
                                                     helpDouble("default", 0.0)};
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 8, the auxiliary outputs: a record of one register block, one
// instance per output. AUXOUTS/n has VALUE (the level the output gives out),
// OUTPUTSELECT and DEMODSELECT (the signal, sharing one register word), SCALE
// and OFFSET (groups/AuxOutsHandlers.h, groups/AuxOutsScale.h).
QV_STATUS AuxOutsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                             uint16_t version, const std::vector<Feature*>& items, int count);
// Runs once every group of a list exists.
QV_STATUS AuxOutsFeatureLink(DeviceAccess& device, const TreeNode::Ptr& groupNode,
                             const std::vector<int>& ids, int count);

}  // namespace tarnix
