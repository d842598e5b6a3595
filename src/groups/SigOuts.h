#pragma once
#include "core/tree/NodeProperty.h"
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"
#include "groups/common/InstanceNodeDef.h"

#include <cstdint>
#include <memory>
#include <vector>

// The signal outputs below DEV/SIGOUTS: per output its switch, adder and
// range, and per mixer channel how the channel is switched into the output,
// its amplitude and its waveform. On boards below hardware revision 4 the
// square waveform and the 10 V range exclude each other.
namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct SigOuts : PlainNodeDef<SigOuts, 13, 139> {
    static constexpr const char* name = "SIGOUTS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Signal Output nodes.")};

    struct Instance : InstanceNodeDef<Instance, 140> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of a Signal Output.")};

        struct On : PlainNodeDef<On, 1, 141> {
            static constexpr const char* name = "ON";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpText("short", "Switches the output on and off."),
                                                     helpText("read", "integer"),
                                                     helpText("write", "integer"),
                                                     helpText("unit", "Boolean"),
                                                     helpInteger("default", 0),
                                                     helpValues("values", &values)};
        };
        struct Add : PlainNodeDef<Add, 2, 142> {
            static constexpr const char* name = "ADD";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpText("short", "Switches the output adder on and off."),
                                                     helpText("read", "integer"),
                                                     helpText("write", "integer"),
                                                     helpText("unit", "Boolean"),
                                                     helpInteger("default", 0),
                                                     helpValues("values", &values)};
        };
        struct Range : PlainNodeDef<Range, 3, 143> {
            static constexpr const char* name = "RANGE";
            // The only list whose values are doubles.
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpInteger("precision", 2),
                helpText("short", "Selects the output range for the Signal Output."),
                helpText("read", "double"),
                helpText("write", "double"),
                helpText("unit", "V"),
                helpDouble("default", 1.0),
                helpValues("values", &values)};
        };
        struct Enables : PlainNodeDef<Enables, 4, 144> {
            static constexpr const char* name = "ENABLES";
            static constexpr HelpItem helpItems[] = {helpText("short", "Switches for channels in the mixer.")};

            // Named by its mixer channel number.
            struct Channel : InstanceNodeDef<Channel, 145> {
                static constexpr const char* name = nullptr;
                static const std::vector<NodeValueListEntry>& values();
                static constexpr HelpItem helpItems[] = {
                    helpFlag("setting", true),
                    helpText("short", "Switches a channel in the mixer on and off."),
                    helpText("read", "integer"),
                    helpText("write", "integer"),
                    helpValues("values", &values)};
            };
        };
        struct Amplitudes : PlainNodeDef<Amplitudes, 5, 146> {
            static constexpr const char* name = "AMPLITUDES";
            static constexpr HelpItem helpItems[] = {helpText("short", "Amplitudes for channels in the mixer.")};

            struct Channel : InstanceNodeDef<Channel, 147> {
                static constexpr const char* name = nullptr;
                static constexpr HelpItem helpItems[] = {
                    helpFlag("setting", true),
                    helpInteger("precision", 4),
                    helpText("short", "Fraction of the output range added to the output signal."),
                    helpText("detailed", "Multiply this value with the range setting to obtain voltage in V."),
                    helpText("read", "double"),
                    helpText("write", "double"),
                    helpText("unit", "Gain"),
                    helpInteger("from", -1),
                    helpInteger("to", 1)};
            };
        };
        struct Waveforms : PlainNodeDef<Waveforms, 6, 148> {
            static constexpr const char* name = "WAVEFORMS";
            static void help(const TreeNode::Ptr&) {}  // no help properties

            struct Channel : InstanceNodeDef<Channel, 149> {
                static constexpr const char* name = nullptr;
                static const std::vector<NodeValueListEntry>& values();
                static constexpr HelpItem helpItems[] = {
                    helpFlag("setting", true),
                    helpText("short", "Waveforms for a channel in the mixer."),
                    helpText("detailed",
                             "For hardware revisions 1.4 and lower, the output signal range for rectangular output is "
                             "limited to 1V."),
                    helpText("read", "integer"),
                    helpText("write", "integer"),
                    helpInteger("default", 0),
                    helpValues("values", &values)};
            };
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

namespace sigout {
constexpr uint32_t kMaxOutputs = 2;
constexpr uint32_t kMaxChannels = 8;  // mixer channels of one output
constexpr uint32_t kChannelSlotBytes = 8;
// Range indexes: 0.01, 0.1, 1 and 10 V.
constexpr uint32_t kRange1V = 2;
constexpr uint32_t kRange10V = 3;
// Boards below this hardware revision cannot give a square wave in the 10 V range.
constexpr uint32_t kSquareIn10VRevision = 4;
constexpr uint32_t kRangeCommand = 14;
}  // namespace sigout

// Feature code 6, the signal outputs: the output block and the mixer block,
// one instance per output each. The mixer channels the outputs get depend on
// the demodulators' feature version and count.
QV_STATUS SigOutsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                             uint16_t version, const std::vector<Feature*>& items, int count);
// Runs once every group of a list exists; there is nothing to link.
QV_STATUS SigOutsFeatureLink(DeviceAccess& device, const TreeNode::Ptr& groupNode,
                             const std::vector<int>& ids, int count);

// RANGE: every write is also announced to the instrument as command 14.
QV_STATUS SigOutRangeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS SigOutRangeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                 double value, int64_t integer);
QV_STATUS SigOutRangeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
void RangeUpdateTimeout(DeviceAccess& device, const std::shared_ptr<void>& user);

// ENABLES/c: the channel mode, written together with the waveform bit of the
// linked WAVEFORMS/c as one enable word.
QV_STATUS SigOutEnableWriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address);
QV_STATUS SigOutEnableUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// AMPLITUDES/c: a signed fraction of the output range, 131071 = 1.0.
QV_STATUS SigOutAmplitudeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS SigOutAmplitudeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double value, int64_t integer);
QV_STATUS SigOutAmplitudeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                    uint32_t length);

// WAVEFORMS/c: sine (0) or square (1), kept in the server and sent as bit 2
// of the channel's enable word.
QV_STATUS SigOutWaveformReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS SigOutWaveformWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                    double value, int64_t integer);

// Sets every waveform channel of the output of `range` to sine.
QV_STATUS SigOutForceSine(DeviceAccess& device, const EPNodePtr& range);
// Brings a 10 V range down to 1 V.
QV_STATUS SigOutLimitRangeForSquare(DeviceAccess& device, const EPNodePtr& range);

}  // namespace tarnix
