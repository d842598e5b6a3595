#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

#include <cstdint>
#include <vector>

// The preamplifiers on the instrument's two KCtrl ports: a current amplifier
// (KCTRLS/CAMPn) or a transimpedance amplifier (KCTRLS/TAMPn) per port, as the
// instrument's KCtrls record names them. The record is processed again, after
// the group has been cleared, with every later feature list, so the nodes
// follow the amplifiers plugged in.
namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct KCtrls : PlainNodeDef<KCtrls, 19, 187> {
    static constexpr const char* name = "KCTRLS";
    static constexpr HelpItem helpItems[] = {
        helpText("short", "Node containing connected KControl devices."),
        helpText("note", "There has to be a device connected to either KCtrl1 or KCtrl2 on the backplane that "
                         "children of this node appear.")};

    // A current amplifier.
    struct CAmp : TabledNodeDef<CAmp, NodeNameKind::Indexed, 1, 188> {
        static constexpr const char* name = "CAMP";
        static constexpr HelpItem helpItems[] = {
            helpText("short", "A QV current-amplifier connected to a kctrl-port."),
            helpText("note", "An LQ3-CAmp has to be connected to the device in order for this node to appear.")};

        struct R : PlainNodeDef<R, 1, 189> {
            static constexpr const char* name = "R";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true), helpText("short", "Chooses a value for the shunt-resistor."),
                helpText("read", "integer"),  helpText("write", "integer"),
                helpText("unit", "Ohm"),      helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct Gain : PlainNodeDef<Gain, 2, 190> {
            static constexpr const char* name = "GAIN";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true), helpText("short", "Switches gain between 1x and 10x."),
                helpText("read", "integer"),  helpText("write", "integer"),
                helpText("unit", "Gain"),     helpInteger("default", 1),
                helpValues("values", &values)};
        };
        struct DC : PlainNodeDef<DC, 3, 191> {
            static constexpr const char* name = "DC";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true), helpText("short", "Switches between AC coupling and DC coupling."),
                helpText("read", "integer"),  helpText("write", "integer"),
                helpText("unit", "Boolean"),  helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct SingleEnded : PlainNodeDef<SingleEnded, 4, 192> {
            static constexpr const char* name = "SINGLEENDED";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true), helpText("short", "Switches between differential and single-ended input."),
                helpText("read", "integer"),  helpText("write", "integer"),
                helpText("unit", "Boolean"),  helpInteger("default", 0),
                helpValues("values", &values)};
        };
    };

    // A transimpedance amplifier.
    struct TAmp : TabledNodeDef<TAmp, NodeNameKind::Indexed, 2, 193> {
        static constexpr const char* name = "TAMP";
        static constexpr HelpItem helpItems[] = {
            helpText("short", "A QV transimpedance-amplifier connected to a kctrl-port."),
            helpText("note", "An LQ3-TAmp has to be connected to the device in order that this node appears.")};

        // A voltage in volts (BIASOUT and each channel's OFFSET).
        template <class Def, int32_t Order, int32_t TypeId>
        struct VoltageDef : PlainNodeDef<Def, Order, TypeId> {
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true), helpInteger("precision", 3),
                helpText("short", "Switches between internal and external bias."),
                helpText("read", "double"), helpText("write", "double"),
                helpText("unit", "V"),      helpDouble("default", 0.0)};
        };

        struct BiasOut : VoltageDef<BiasOut, 1, 194> {
            static constexpr const char* name = "BIASOUT";
        };
        struct ExtBias : PlainNodeDef<ExtBias, 2, 195> {
            static constexpr const char* name = "EXTBIAS";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),  helpText("short", "Switches the external bias."),
                helpText("read", "integer"), helpText("write", "integer"),
                helpText("unit", "Boolean"), helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct Channel : TabledNodeDef<Channel, NodeNameKind::None, 3, 196> {
            static constexpr const char* name = nullptr;
            static constexpr HelpItem helpItems[] = {helpText("short", "A Channel of a transimpedance amplifier.")};

            struct CurrentGain : PlainNodeDef<CurrentGain, 1, 197> {
                static constexpr const char* name = "CURRENTGAIN";
                static const std::vector<NodeValueListEntry>& values();
                static constexpr HelpItem helpItems[] = {
                    helpFlag("setting", true),  helpText("short", "Chooses a value for the current gain."),
                    helpText("read", "integer"), helpText("write", "integer"),
                    helpText("unit", "Gain"),    helpInteger("default", 1000),
                    helpValues("values", &values)};
            };
            struct DC : PlainNodeDef<DC, 2, 198> {
                static constexpr const char* name = "DC";
                static const std::vector<NodeValueListEntry>& values();
                static constexpr HelpItem helpItems[] = {
                    helpFlag("setting", true),  helpText("short", "Switches between AC and DC Mode."),
                    helpText("read", "integer"), helpText("write", "integer"),
                    helpText("unit", "Boolean"), helpInteger("default", 1),
                    helpValues("values", &values)};
            };
            struct VoltageGain : PlainNodeDef<VoltageGain, 3, 199> {
                static constexpr const char* name = "VOLTAGEGAIN";
                static const std::vector<NodeValueListEntry>& values();
                static constexpr HelpItem helpItems[] = {
                    helpFlag("setting", true),  helpText("short", "Chooses a value for the voltage gain."),
                    helpText("read", "integer"), helpText("write", "integer"),
                    helpText("unit", "Gain"),    helpInteger("default", 1),
                    helpValues("values", &values)};
            };
            struct Offset : VoltageDef<Offset, 4, 200> {
                static constexpr const char* name = "OFFSET";
            };
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// Amplifier type words of the KCtrls record (the whole word is compared).
enum KCtrlAmplifierType : uint32_t {
    KCTRL_TYPE_CAMP = 0x81,
    KCTRL_TYPE_TAMP = 0x82,
};

// The KCtrls record's data after its header: a register block (start
// address, attribute, stride, repetitions), then the type word of each port.
constexpr uint32_t kKCtrlPorts = 2;
// Port 1's block lies this many bytes above port 0's.
constexpr uint32_t kKCtrlPortSpacing = 8;

// Builds the leaves of an amplifier below its node, on its port's item.
using KCtrlAmplifierInit = QV_STATUS (*)(DeviceAccess& device, DeviceStateNodeGroup* group,
                                         const TreeNode::Ptr& amplifierNode, Feature* port);

// Feature code 14: enters both ports into the register map and builds the
// amplifier found on each. A record without its register block (under 16
// bytes) is refused (0x8010); a port whose type word the record lacks is empty.
QV_STATUS LQ3ReadFeaturesKCtrl(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                               uint16_t version, const char* name8, const uint8_t* data, uint32_t length);
QV_STATUS KCtrlProbe(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                     uint32_t type, Feature* port, int portIndex);

// The port index an item carries as its user data (0 without).
uint32_t KCtrlPortIndex(const Feature& port);

}  // namespace tarnix
