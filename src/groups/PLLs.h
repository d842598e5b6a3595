#pragma once
#include "core/tree/NodeProperty.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"
#include "groups/common/HarmonicHelp.h"

#include <vector>

// The phase-locked loops: their node definitions, the group's init and link.
// The value handlers are in groups/PLLsHandlers.h and groups/PLLsLoopGain.h.
namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct PLLs : PlainNodeDef<PLLs, 10, 84> {
    static constexpr const char* name = "PLLS";
    static constexpr HelpItem helpItems[] = {helpText("short", "PLL nodes.")};

    // One loop, shown by its index alone.
    struct Instance : TabledNodeDef<Instance, NodeNameKind::None, 1, 85> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of a PLL.")};

        struct ADCSelect : PlainNodeDef<ADCSelect, 1, 86> {
            static const std::vector<NodeValueListEntry>& values();
            static constexpr const char* name = "ADCSELECT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Selects an input for the PLL."), helpFlag("setting", true),
                helpText("read", "integer"), helpText("write", "integer"), helpText("unit", "Index"),
                helpInteger("from", 0), helpInteger("to", 5), helpValues("values", &values)};
        };
        struct FreqCenter : PlainNodeDef<FreqCenter, 2, 87> {
            static constexpr const char* name = "FREQCENTER";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Selects a center frequency."), helpFlag("setting", true),
                helpInteger("precision", 5), helpText("read", "double"), helpText("write", "double"),
                helpText("unit", "Hz"), helpDouble("from", 0.0), helpDouble("to", 100000000.0)};
        };
        struct FreqRange : PlainNodeDef<FreqRange, 3, 88> {
            static constexpr const char* name = "FREQRANGE";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Selects a frequency range for the PLL."), helpFlag("setting", true),
                helpInteger("precision", 5), helpText("read", "double"), helpText("write", "double"),
                helpText("unit", "Hz"), helpDouble("from", 0.0), helpDouble("to", 100000000.0)};
        };
        struct Enable : PlainNodeDef<Enable, 4, 89> {
            static const std::vector<NodeValueListEntry>& values();
            static constexpr const char* name = "ENABLE";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Enables the PLL."), helpFlag("setting", true), helpText("read", "integer"),
                helpText("write", "integer"), helpText("unit", "Boolean"), helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct Error : PlainNodeDef<Error, 5, 90> {
            static constexpr const char* name = "ERROR";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Error of the PLL."), helpInteger("precision", 3), helpText("read", "double"),
                helpText("stream", "double"), helpText("unit", "deg"), helpDouble("from", -180.0),
                helpDouble("to", 180.0)};
        };
        struct AutoCenter : PlainNodeDef<AutoCenter, 6, 91> {
            static const std::vector<NodeValueListEntry>& values();
            static constexpr const char* name = "AUTOCENTER";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Switches autocenter."), helpFlag("setting", true), helpText("read", "integer"),
                helpText("write", "integer"), helpText("unit", "Boolean"), helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct AutoTimeConstant : PlainNodeDef<AutoTimeConstant, 7, 92> {
            static const std::vector<NodeValueListEntry>& values();
            static constexpr const char* name = "AUTOTIMECONSTANT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Switches external time constant control."), helpFlag("setting", true),
                helpText("read", "integer"), helpText("write", "integer"), helpText("unit", "Boolean"),
                helpInteger("default", 0), helpValues("values", &values)};
        };
        struct TimeConstant : PlainNodeDef<TimeConstant, 8, 93> {
            static constexpr const char* name = "TIMECONSTANT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "The external time constant."), helpFlag("setting", true),
                helpInteger("precision", 6), helpText("read", "double"), helpText("write", "double"),
                helpText("unit", "s"), helpDouble("default", 0.0)};
        };
        struct AutoPID : PlainNodeDef<AutoPID, 9, 94> {
            static const std::vector<NodeValueListEntry>& values();
            static constexpr const char* name = "AUTOPID";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Switches external PID."), helpFlag("setting", true), helpText("read", "integer"),
                helpText("write", "integer"), helpText("unit", "Boolean"), helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct PGain : PlainNodeDef<PGain, 10, 95> {
            static constexpr const char* name = "PGAIN";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Proportional gain of the PID controller."), helpFlag("setting", true),
                helpInteger("precision", 2), helpText("read", "double"), helpText("write", "double"),
                helpText("unit", "Hz/deg"), helpDouble("from", -72904.8), helpDouble("to", 72904.24),
                helpDouble("default", 0.0)};
        };
        struct ITimeConstant : PlainNodeDef<ITimeConstant, 11, 96> {
            static constexpr const char* name = "ITIMECONSTANT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Integral time constant of the PID controller."), helpFlag("setting", true),
                helpInteger("precision", 2), helpText("read", "double"), helpText("write", "double"),
                helpText("unit", "Hz^2/deg"), helpDouble("default", 145.48991)};
        };
        struct DTimeConstant : PlainNodeDef<DTimeConstant, 12, 97> {
            static constexpr const char* name = "DTIMECONSTANT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Derivative Timeconstant of the PID."), helpFlag("setting", true),
                helpInteger("precision", 5), helpText("read", "double"), helpText("write", "double"),
                helpText("unit", "1/deg"), helpDouble("default", 0.0)};
        };
        struct FreqDelta : PlainNodeDef<FreqDelta, 13, 98> {
            static constexpr const char* name = "FREQDELTA";
            static constexpr HelpItem helpItems[] = {helpText("short", "Frequency deviation from center frequency."),
                                                     helpInteger("precision", 5), helpText("read", "double"),
                                                     helpText("unit", "Hz")};
        };
        struct ADCThreshold : PlainNodeDef<ADCThreshold, 14, 99> {
            static constexpr const char* name = "ADCTHRESHOLD";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Threshold for edge detection."),
                helpText("detailed", "Full scale corresponds to -4096 and 4095."), helpFlag("setting", true),
                helpText("read", "integer"), helpText("write", "integer"), helpInteger("from", -4096),
                helpInteger("to", 4095), helpInteger("default", 100)};
        };
        struct AuxAvg : PlainNodeDef<AuxAvg, 15, 100> {
            static constexpr const char* name = "AUXAVG";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Delta frequency averaging control."), helpFlag("setting", true),
                helpText("read", "integer"), helpText("write", "integer"), helpInteger("from", 0),
                helpInteger("to", 128), helpInteger("default", 8)};
        };
        struct Setpoint : PlainNodeDef<Setpoint, 16, 101> {
            static constexpr const char* name = "SETPOINT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "The setpoint in degrees of the PLL."), helpFlag("setting", true),
                helpInteger("precision", 2), helpText("read", "double"), helpText("write", "double"),
                helpText("unit", "deg"), helpInteger("from", -180), helpInteger("to", 180),
                helpInteger("default", 0)};
        };
        // Its help is shared with the demodulators' HARMONIC.
        struct Harmonic : NodeDefinition<Harmonic> {
            static constexpr const char* name = "HARMONIC";
            static constexpr NodeNameKind nameKind = NodeNameKind::Plain;
            static constexpr int32_t siblingOrder = 17;
            static constexpr int32_t nodeTypeId = 102;
            static void help(const TreeNode::Ptr& node) { HarmonicHelp(node); }
        };
        struct Order : PlainNodeDef<Order, 18, 103> {
            static const std::vector<NodeValueListEntry>& values();
            static constexpr const char* name = "ORDER";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Selects the order of the lowpass filter."), helpFlag("setting", true),
                helpText("read", "integer"), helpText("write", "integer"), helpText("unit", "Order"),
                helpInteger("from", 1), helpInteger("to", 8), helpInteger("default", 4),
                helpValues("values", &values)};
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 16, the phase-locked loops: a record of one register block.
// Also registers the blocks of demodulators 6 and 7 ("DEMODS67") on
// instruments that list at most six demodulators, for the first two loops'
// HARMONIC and ORDER.
QV_STATUS PLLsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);
// Runs once every group of a list exists.
QV_STATUS PLLsFeatureLink(DeviceAccess& device, const TreeNode::Ptr& groupNode, const std::vector<int>& ids, int count);

}  // namespace tarnix
