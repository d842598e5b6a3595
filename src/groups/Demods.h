#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"
#include "groups/common/HarmonicHelp.h"
#include "groups/common/InstanceNodeDef.h"

#include <cstdint>

// The demodulators: DEMODS/n with the input, filter, rate, trigger, oscillator,
// harmonic, phase shift and sinc settings of one demodulator, and its sample
// stream. The time-constant, rate and trigger words are in DemodsRate.h, the
// sample stream in DemodSample.h.
namespace tarnix {

struct DeviceState;

namespace NodeDefs {
namespace LQ3 {

const std::vector<NodeValueListEntry>& DemodsADCSelectValues();
const std::vector<NodeValueListEntry>& DemodsOrderValues();
const std::vector<NodeValueListEntry>& DemodsTriggerValues();
const std::vector<NodeValueListEntry>& DemodsSincValues();

struct Demods : PlainNodeDef<Demods, 7, 63> {
    static constexpr const char* name = "DEMODS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Demodulator nodes.")};

    struct Instance : InstanceNodeDef<Instance, 64> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of a single demodulator")};

        struct ADCSelect : PlainNodeDef<ADCSelect, 1, 65> {
            static constexpr const char* name = "ADCSELECT";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Selects the index of the signal input for the demodulator."),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpText("unit", "Index"),
                helpInteger("from", 0),
                helpInteger("to", 5),
                helpValues("values", DemodsADCSelectValues)};
        };
        struct Order : PlainNodeDef<Order, 2, 66> {
            static constexpr const char* name = "ORDER";
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpText("short", "Selects the order of the low-pass filter."),
                                                     helpText("read", "integer"),
                                                     helpText("write", "integer"),
                                                     helpText("unit", "Order"),
                                                     helpInteger("default", 4),
                                                     helpInteger("from", 1),
                                                     helpInteger("to", 8),
                                                     helpValues("values", DemodsOrderValues)};
        };
        struct TimeConstant : PlainNodeDef<TimeConstant, 3, 67> {
            static constexpr const char* name = "TIMECONSTANT";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpInteger("precision", 8),
                helpText("short", "Sets the time constant of the low-pass filter."),
                helpText("detailed", "The time constant is set for each stage of the low-pass filter. The total "
                                     "timeconstant and bandwidth depends on the selected order."),
                helpText("read", "double"),
                helpText("write", "double"),
                helpText("unit", "s"),
                helpDouble("default", 0.010164)};
        };
        struct Rate : PlainNodeDef<Rate, 4, 68> {
            static constexpr const char* name = "RATE";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpInteger("precision", 6),
                helpText("short", "The number of output values sent to the computer per second."),
                helpText("read", "double"),
                helpText("write", "double"),
                helpText("unit", "Hz")};
        };
        struct Trigger : PlainNodeDef<Trigger, 5, 69> {
            static constexpr const char* name = "TRIGGER";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Sets the trigger- and gating-functionality of the demodulator."),
                helpText("detailed", "The triggers are configured by the bits of an integer. When multiple "
                                     "bits/triggers are set, they are or-ed."),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpText("unit", "bit-coded"),
                helpValues("values", DemodsTriggerValues)};
        };
        struct OscSelect : PlainNodeDef<OscSelect, 6, 70> {
            static constexpr const char* name = "OSCSELECT";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Index of the oscillator used to demodulate the signal."),
                helpText("read", "integer"), helpText("write", "integer"), helpText("unit", "Index")};
        };
        struct Harmonic : NodeDefinition<Harmonic> {
            static constexpr const char* name = "HARMONIC";
            static constexpr NodeNameKind nameKind = NodeNameKind::Plain;
            static constexpr int32_t siblingOrder = 7;
            static constexpr int32_t nodeTypeId = 71;
            static void help(const TreeNode::Ptr& node) { HarmonicHelp(node); }
        };
        struct PhaseShift : PlainNodeDef<PhaseShift, 8, 72> {
            static constexpr const char* name = "PHASESHIFT";
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpInteger("precision", 4),
                                                     helpText("short", "Phaseshift of the demodulator."),
                                                     helpText("read", "double"),
                                                     helpText("write", "double"),
                                                     helpText("unit", "deg"),
                                                     helpInteger("default", 0),
                                                     helpInteger("from", -180),
                                                     helpInteger("to", 180)};
        };
        struct Sinc : PlainNodeDef<Sinc, 9, 73> {
            static constexpr const char* name = "SINC";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Boolean value enabling Sinc filter functionality."),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpText("unit", "Boolean"),
                helpInteger("default", 0),
                helpValues("values", DemodsSincValues)};
        };
        struct Sample : PlainNodeDef<Sample, 10, 74> {
            static constexpr const char* name = "SAMPLE";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Samples of the demodulator are given out at this node."),
                helpText("read", "demodsample"), helpText("stream", "demodsample")};
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 3, the demodulators: a record of two register blocks, the
// settings (one instance per demodulator) and the samples (two slots per
// demodulator).
QV_STATUS DemodsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);
// Runs once every group of a list exists.
QV_STATUS DemodsFeatureLink(DeviceAccess& device, const TreeNode::Ptr& groupNode, const std::vector<int>& ids,
                            int count);

// The data handler of the settings block: a block that arrives from its start
// carries the demodulator's input index first.
QV_STATUS DemodSettingsDataHandler(DeviceAccess& device, Feature& item, uint32_t address, uint32_t instance,
                                   const uint8_t* data, uint32_t length);
// Records demodulator n's input (limited to the inputs there are) and tells
// the auxiliary outputs whose scale depends on it.
QV_STATUS DemodSetInput(DeviceAccess& device, uint32_t n, uint32_t word);
// Inputs a demodulator can take: the signal inputs, then two per auxiliary-input
// and two per digital-I/O instance.
int64_t DemodInputCount(const DeviceState& state);

// ADCSELECT: the input index, limited to the inputs there are (Version >= 2),
// or the input fixed by the demodulator's index (Version <= 1).
QV_STATUS DemodADCSelectReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS DemodADCSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                    double value, int64_t integer);
QV_STATUS DemodADCSelectUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS DemodADCSelectReadDataV1(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS DemodADCSelectWriteNumberV1(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double value, int64_t integer);
QV_STATUS DemodADCSelectUpdateDataV1(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                     uint32_t length);

// ORDER: the register holds the filter order - 1.
QV_STATUS DemodOrderReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS DemodOrderWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                double value, int64_t integer);
QV_STATUS DemodOrderUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// OSCSELECT (read: IntegerReadData): limited to the oscillators there are, to
// 0..1 with the demodulators 6 and 7 fixed (Version <= 1), or fixed to the
// demodulator's index.
QV_STATUS DemodOscSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                    double value, int64_t integer);
QV_STATUS DemodOscSelectWriteNumberV1(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double value, int64_t integer);
QV_STATUS DemodOscSelectWriteNumberFixed(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                         double value, int64_t integer);
QV_STATUS DemodOscSelectUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// HARMONIC: the register holds harmonic x 128 (17 bits). The narrow write
// takes only harmonics 1 and 2.
QV_STATUS DemodHarmonicReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS DemodHarmonicWideWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                       double value, int64_t integer);
QV_STATUS DemodHarmonicWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                   double value, int64_t integer);
QV_STATUS DemodHarmonicUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// PHASESHIFT: the register holds the phase, 360 degrees = 16777215.
QV_STATUS DemodPhaseShiftReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS DemodPhaseShiftWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double value, int64_t integer);
QV_STATUS DemodPhaseShiftUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
double DemodPhaseDegrees(uint32_t word);
uint32_t DemodPhaseWord(double degrees);

// SINC (read: BooleanReadData): switching it on moves the demodulator's
// oscillator to a frequency the sinc filter allows.
QV_STATUS DemodSincWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                               double value, int64_t integer);
QV_STATUS DemodSincUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

}  // namespace tarnix
