#pragma once
#include "core/tree/NodeProperty.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

#include <vector>

// The PID controllers: their node definitions and the group's init. The value
// handlers are in groups/PIDsHandlers.h.
namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct PIDs : PlainNodeDef<PIDs, 11, 104> {
    static constexpr const char* name = "PIDS";
    static constexpr HelpItem helpItems[] = {helpText("short", "PID nodes.")};

    // One controller, shown by its index alone.
    struct Instance : TabledNodeDef<Instance, NodeNameKind::None, 1, 105> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of a PID.")};

        struct Input : PlainNodeDef<Input, 1, 106> {
            static const std::vector<NodeValueListEntry>& values();
            static constexpr const char* name = "INPUT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Selects the input for the PID."), helpFlag("setting", true),
                helpText("read", "integer"), helpText("write", "integer"), helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct InputChannel : PlainNodeDef<InputChannel, 2, 107> {
            static constexpr const char* name = "INPUTCHANNEL";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "If applicable, selects the channel of the selected INPUT."),
                helpText("detailed", "Sets the input channel index for the selected INPUT, i.e., 0,1,2 etc.. The "
                                     "available channels depend on the input type."),
                helpFlag("setting", true), helpText("read", "integer"), helpText("write", "integer"),
                helpInteger("default", 0)};
        };
        struct Output : PlainNodeDef<Output, 3, 108> {
            static const std::vector<NodeValueListEntry>& values();
            static constexpr const char* name = "OUTPUT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Selects the output for the PID."), helpFlag("setting", true),
                helpText("read", "integer"), helpText("write", "integer"), helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct OutputChannel : PlainNodeDef<OutputChannel, 4, 109> {
            static constexpr const char* name = "OUTPUTCHANNEL";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "If applicable, selects the channel of the selected OUTPUT."),
                helpText("detailed", "Sets the input channel index for the selected OUTPUT, i.e., 0,1,2 etc.. The "
                                     "available channels depend on the output type"),
                helpFlag("setting", true), helpText("read", "integer"), helpText("write", "integer"),
                helpInteger("default", 6)};
        };
        struct OutputDefaultEnable : PlainNodeDef<OutputDefaultEnable, 5, 110> {
            static const std::vector<NodeValueListEntry>& values();
            static constexpr const char* name = "OUTPUTDEFAULTENABLE";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "If OUTPUTDEFAULTENABLE is set, the value specified by OUTPUTDEFAULT will be "
                                  "applied when the PID is switched off."),
                helpText("detailed", ""), helpFlag("setting", true), helpText("read", "integer"),
                helpText("write", "integer"), helpText("unit", "Boolean"), helpFlag("default", false),
                helpValues("values", &values)};
        };
        struct OutputDefault : PlainNodeDef<OutputDefault, 6, 111> {
            static constexpr const char* name = "OUTPUTDEFAULT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "If OUTPUTDEFAULTENABLE is set, this node specifies the value to be applied."),
                helpText("detailed", ""), helpFlag("setting", true), helpInteger("precision", 4),
                helpText("read", "double"), helpText("write", "double"), helpDouble("default", 0.1)};
        };
        struct P : PlainNodeDef<P, 7, 112> {
            static constexpr const char* name = "P";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Proportional gain."),
                helpText("detailed", "Sets the proportional gain for the error signal. Negative feedback "
                                     "corresponds to a negative gain."),
                helpFlag("setting", true), helpInteger("precision", 4), helpText("read", "double"),
                helpText("write", "double"), helpText("unit", "[OUTPUT Unit]/[INPUT Unit]"),
                helpDouble("default", 1.0)};
        };
        struct I : PlainNodeDef<I, 8, 113> {
            static constexpr const char* name = "I";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Proportional gain for integrator."),
                helpText("detailed", "Sets the proportional gain for the integrated (accumulated) error signal. "
                                     "Negative feedback corresponds to a negative gain."),
                helpFlag("setting", true), helpInteger("precision", 4), helpText("read", "double"),
                helpText("write", "double"), helpText("unit", "[OUTPUT Unit]/[INPUT Unit]/s"),
                helpDouble("default", 10.0)};
        };
        struct D : PlainNodeDef<D, 9, 114> {
            static constexpr const char* name = "D";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Proportional gain for differentiator."),
                helpText("detailed", "Sets the proportional gain for the differentiated error signal. Negative "
                                     "feedback corresponds to a negative gain."),
                helpFlag("setting", true), helpInteger("precision", 4), helpText("read", "double"),
                helpText("write", "double"), helpText("unit", "[OUTPUT Unit]/[INPUT Unit]*s"),
                helpDouble("default", 0.001)};
        };
        struct SetPoint : PlainNodeDef<SetPoint, 10, 115> {
            static constexpr const char* name = "SETPOINT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Target settle point."), helpFlag("setting", true), helpInteger("precision", 4),
                helpText("read", "double"), helpText("write", "double"), helpText("unit", "[INPUT Unit]"),
                helpDouble("default", 0.1)};
        };
        struct SetPointSelect : PlainNodeDef<SetPointSelect, 11, 116> {
            static const std::vector<NodeValueListEntry>& values();
            static constexpr const char* name = "SETPOINTSELECT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Set point selection."), helpFlag("setting", true), helpText("read", "integer"),
                helpText("write", "integer"), helpInteger("default", 0), helpValues("values", &values)};
        };
        struct MonitorOffset : PlainNodeDef<MonitorOffset, 12, 117> {
            static constexpr const char* name = "MONITOROFFSET";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Offset for the monitor output."), helpFlag("setting", true),
                helpInteger("precision", 4), helpText("read", "double"), helpText("write", "double"),
                helpDouble("default", 0.0)};
        };
        struct MonitorScale : PlainNodeDef<MonitorScale, 13, 118> {
            static constexpr const char* name = "MONITORSCALE";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Scale for the monitor output."), helpFlag("setting", true),
                helpInteger("precision", 4), helpText("read", "double"), helpText("write", "double"),
                helpDouble("default", 1.0)};
        };
        struct Error : PlainNodeDef<Error, 14, 119> {
            static constexpr const char* name = "ERROR";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Shows the error value."),
                helpText("detailed", "The calculated error is : ERROR = SETPOINT - IN."), helpInteger("precision", 4),
                helpText("read", "double"), helpText("unit", "[OUTPUT Unit]")};
        };
        struct Center : PlainNodeDef<Center, 15, 120> {
            static constexpr const char* name = "CENTER";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Sets the output center point."), helpFlag("setting", true),
                helpInteger("precision", 4), helpText("read", "double"), helpText("write", "double"),
                helpText("unit", "[OUTPUT Unit]"), helpDouble("default", 0.1)};
        };
        struct Range : PlainNodeDef<Range, 16, 121> {
            static constexpr const char* name = "RANGE";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Sets the output range."),
                helpText("detailed",
                         "The limits for the output are : OUT = [CENTER - RANGE,CENTER + RANGE] with RANGE > 0.0."),
                helpFlag("setting", true), helpInteger("precision", 4), helpText("read", "double"),
                helpText("write", "double"), helpText("unit", "[OUTPUT Unit]"), helpDouble("default", 0.5)};
        };
        struct Shift : PlainNodeDef<Shift, 17, 122> {
            static constexpr const char* name = "SHIFT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Shows the output shift."),
                helpText("detailed", "The calculated output value is : OUT = CENTER + SHIFT."),
                helpInteger("precision", 4), helpText("read", "double"), helpText("unit", "[OUTPUT Unit]"),
                helpDouble("default", 0.0)};
        };
        struct Enable : PlainNodeDef<Enable, 18, 123> {
            static const std::vector<NodeValueListEntry>& values();
            static constexpr const char* name = "ENABLE";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Enable PID controller."), helpFlag("setting", true), helpText("read", "integer"),
                helpText("write", "integer"), helpText("unit", "Boolean"), helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct Rate : PlainNodeDef<Rate, 19, 124> {
            static constexpr const char* name = "RATE";
            static constexpr HelpItem helpItems[] = {helpText("short", "Control update rate."),
                                                     helpInteger("precision", 4), helpText("read", "double"),
                                                     helpText("unit", "Samples/s")};
        };

        struct TipProtect : PlainNodeDef<TipProtect, 20, 125> {
            static constexpr const char* name = "TIPPROTECT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Contains nodes for configuring the Tipprotect functionality.")};

            struct Enable : PlainNodeDef<Enable, 1, 126> {
                static const std::vector<NodeValueListEntry>& values();
                static constexpr const char* name = "ENABLE";
                static constexpr HelpItem helpItems[] = {
                    helpText("short", "Enable TipProtect for the PID controller."), helpFlag("setting", true),
                    helpText("read", "integer"), helpText("write", "integer"), helpText("unit", "Boolean"),
                    helpInteger("default", 0), helpValues("values", &values)};
            };
            struct PLL : PlainNodeDef<PLL, 2, 127> {
                static constexpr const char* name = "PLL";
                static constexpr HelpItem helpItems[] = {
                    helpText("short", "Selects a PLL for TipProtect."), helpFlag("setting", true),
                    helpText("read", "integer"), helpText("write", "integer"), helpInteger("default", 0)};
            };
            struct Active : PlainNodeDef<Active, 3, 128> {
                static constexpr const char* name = "ACTIVE";
                static constexpr HelpItem helpItems[] = {
                    helpText("short", "Indicates whether TipProtect is active."), helpText("read", "integer"),
                    helpText("unit", "Boolean"), helpInteger("default", 0)};
            };
            struct ActiveTimeConstant : PlainNodeDef<ActiveTimeConstant, 4, 129> {
                static constexpr const char* name = "ACTIVETIMECONSTANT";
                static constexpr HelpItem helpItems[] = {
                    helpText("short", "Time constant when TipProtect is active."),
                    helpText("detailed", "Time constant for low-pass filtering the PLL error\xC2\xB2 when TipProtect "
                                         "is active, i.e., when waiting to reenable the PID controller."),
                    helpFlag("setting", true), helpInteger("precision", 5), helpText("read", "double"),
                    helpText("write", "double"), helpText("unit", "s"), helpDouble("from", 0.0),
                    helpDouble("to", 100000000.0), helpInteger("default", 0)};
            };
            struct ActiveThreshold : PlainNodeDef<ActiveThreshold, 5, 130> {
                static constexpr const char* name = "ACTIVETHRESHOLD";
                static constexpr HelpItem helpItems[] = {
                    helpText("short", "Threshold for the active state."),
                    helpText("detailed", "Threshold for PLL error\xC2\xB2 when TipProtect is active, i.e., when "
                                         "waiting to reenable the PID controller."),
                    helpFlag("setting", true), helpInteger("precision", 5), helpText("read", "double"),
                    helpText("write", "double"), helpText("unit", "deg\xC2\xB2"), helpDouble("from", 0.0),
                    helpDouble("to", 129600.0)};
            };
            struct InactiveTimeConstant : PlainNodeDef<InactiveTimeConstant, 6, 131> {
                static constexpr const char* name = "INACTIVETIMECONSTANT";
                static constexpr HelpItem helpItems[] = {
                    helpText("short", "Time constant when TipProtect is inactive."),
                    helpText("detailed", "Time constant for low-pass filtering the PLL error\xC2\xB2 when TipProtect "
                                         "is inactive, i.e., when waiting to disable the PID controller."),
                    helpFlag("setting", true), helpInteger("precision", 5), helpText("read", "double"),
                    helpText("write", "double"), helpText("unit", "s"), helpDouble("from", 0.0),
                    helpDouble("to", 100000000.0), helpInteger("default", 0)};
            };
            struct InactiveThreshold : PlainNodeDef<InactiveThreshold, 7, 132> {
                static constexpr const char* name = "INACTIVETHRESHOLD";
                static constexpr HelpItem helpItems[] = {
                    helpText("short", "Threshold for the inactive state."),
                    helpText("detailed", "Threshold for PLL error\xC2\xB2 when TipProtect is inactive, i.e., when "
                                         "waiting to disable the PID controller."),
                    helpFlag("setting", true), helpInteger("precision", 5), helpText("read", "double"),
                    helpText("write", "double"), helpText("unit", "deg\xC2\xB2"), helpDouble("from", 0.0),
                    helpDouble("to", 129600.0)};
            };
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 19, the PID controllers: a record of three register blocks
// (the common block with the update strobe, the controllers' blocks, and one
// the server does not use).
QV_STATUS PIDsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);

}  // namespace tarnix
