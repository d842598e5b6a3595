#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"
#include "groups/common/InstanceNodeDef.h"

#include <cstdint>

// The oscillators: OSCS/n/FREQ, the frequency of each internal oscillator,
// held by the instrument as a 48-bit phase increment of its 210 MHz clock.
namespace tarnix {

struct DeviceState;

namespace NodeDefs {
namespace LQ3 {

struct Oscs : PlainNodeDef<Oscs, 8, 75> {
    static constexpr const char* name = "OSCS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Oscillator nodes.")};

    struct Instance : InstanceNodeDef<Instance, 76> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of an oscillator.")};

        struct Freq : PlainNodeDef<Freq, 1, 77> {
            static constexpr const char* name = "FREQ";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),        helpInteger("precision", 5),
                helpText("short", "Frequency to of the oscillator."),
                helpText("read", "double"),       helpText("write", "double"),
                helpText("unit", "Hz"),           helpDouble("from", 0.0),
                helpDouble("to", 100000000.0),    helpDouble("default", 1000000.0)};
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// Limits of an oscillator frequency, and the highest frequency an oscillator
// may have while a demodulator using it filters with its sinc filter (210 MHz
// / 456); such a frequency is always this divided by a whole number.
constexpr double kOscFreqMax = 100000000.0;
constexpr double kOscSincFreqMax = 460526.3157894737;

// Feature code 4, the oscillators: a record of one register block, one
// instance per oscillator.
QV_STATUS OscsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);

// Write and update handlers of OSCS/n/FREQ (the update also serves the PLLs'
// centre frequencies, whose register has the same format).
QV_STATUS OscFreqWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double value,
                             int64_t integer);
QV_STATUS OscFreqUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// Whether a demodulator with its sinc filter on uses oscillator `osc`.
bool OscIsSincLinked(const DeviceState& state, uint32_t osc);
// The phase increment of a client's frequency: limited to 0 .. 100 MHz, moved
// to the nearest allowed frequency when sinc-linked, then the nearest step.
uint64_t OscFrequencyRegister(double hertz, bool sincLinked);

// Brings oscillator `osc` to the nearest frequency its sinc link allows: when
// that changes its register, stores it, marks it for writing and pushes the
// new frequency. 0 when the oscillator has no FREQ endpoint.
QV_STATUS OscApplySincRule(DeviceAccess& device, uint32_t osc);

}  // namespace tarnix
