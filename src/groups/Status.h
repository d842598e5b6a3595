#pragma once
#include "core/tree/NodeProperty.h"
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

#include <cstdint>
#include <vector>

// The instrument's status block below DEV/STATUS: device time, status flags,
// transmit-FIFO level and the ADC extremes. Every leaf is read-only and fed
// by the status block the instrument sends on its own.
namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

// One bit of the status flag word: an integer 0 or 1 with a values list of
// its own; Def gives shortText, offText and onText (and may give detailedText).
template <class Def, int32_t Order, int32_t TypeId, NodeNameKind Kind = NodeNameKind::Plain>
struct StatusFlagDef : TabledNodeDef<Def, Kind, Order, TypeId> {
    static constexpr const char* detailedText = nullptr;

    static const std::vector<NodeValueListEntry>& values() {
        static const std::vector<NodeValueListEntry> table{{Def::offText, 0}, {Def::onText, 1}};
        return table;
    }
    static void help(const TreeNode::Ptr& node) {
        applyNodeHelp(*node, {{"short", Def::shortText},
                              {"read", "integer"},
                              {"unit", "Boolean"},
                              {"values", NodeValueList(values())}});
        if (Def::detailedText) node->properties()["detailed"] = NodeProperty(Def::detailedText);
    }
};

// The two clipping flags of one kind (mixer channels, ADCs) below a node of
// their own; the flags are instance nodes "0" and "1".
template <class Def, int32_t Order, int32_t TypeId, int32_t InstanceTypeId>
struct StatusClipDef : PlainNodeDef<Def, Order, TypeId> {
    static void help(const TreeNode::Ptr& node) { applyNodeHelp(*node, {{"short", Def::shortText}}); }

    struct Instance : StatusFlagDef<Instance, 1, InstanceTypeId, NodeNameKind::None> {
        static constexpr const char* name = nullptr;
        static constexpr const char* shortText = Def::instanceText;
        static constexpr const char* offText = "no clipping";
        static constexpr const char* onText = "clipping";
    };
};

// An ADC extreme: a signed 8-bit value in units of 64 ADC LSB.
template <class Def, int32_t Order, int32_t TypeId>
struct StatusAdcDef : PlainNodeDef<Def, Order, TypeId> {
    static void help(const TreeNode::Ptr& node) {
        applyNodeHelp(*node, {{"short", Def::shortText},
                              {"read", "integer"},
                              {"unit", "64 LSB"},
                              {"from", int64_t(-127)},
                              {"to", int64_t(127)}});
    }
};

struct Status : PlainNodeDef<Status, 4, 26> {
    static constexpr const char* name = "STATUS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Nodes providing status information from the device.")};

    struct Time : PlainNodeDef<Time, 1, 27> {
        static constexpr const char* name = "TIME";
        static constexpr HelpItem helpItems[] = {helpText("short", "The current timestamp."),
                                                 helpText("read", "double"), helpText("unit", "s"),
                                                 helpInteger("precision", 6)};
    };

    struct Flags : PlainNodeDef<Flags, 2, 28> {
        static constexpr const char* name = "FLAGS";
        static constexpr HelpItem helpItems[] = {helpText("short", "Node containing some status flags.")};

        struct Binary : PlainNodeDef<Binary, 1, 29> {
            static constexpr const char* name = "BINARY";
            static constexpr HelpItem helpItems[] = {helpText("short", "A binary representation of all flags."),
                                                     helpText("read", "integer")};
        };
        struct PllLock : StatusFlagDef<PllLock, 2, 30> {
            static constexpr const char* name = "PLLLOCK";
            static constexpr const char* shortText =
                "Flag indicating if the internal PLL for clock generation has locked.";
            static constexpr const char* offText = "PLL locked";
            static constexpr const char* onText = "PLL not locked";
        };
        struct DcmLock : StatusFlagDef<DcmLock, 3, 31> {
            static constexpr const char* name = "DCMLOCK";
            static constexpr const char* shortText =
                "Flag indicating if the internal digital clock manager (DCM) has locked.";
            static constexpr const char* offText = "DCM locked";
            static constexpr const char* onText = "DCM not locked";
        };
        struct Fx2Rx : StatusFlagDef<Fx2Rx, 4, 32> {
            static constexpr const char* name = "FX2RX";
            static constexpr const char* shortText = "Flag indicating if the device receives data via USB.";
            static constexpr const char* offText = "Device receives";
            static constexpr const char* onText = "Device does not receive";
        };
        struct PkgLoss : StatusFlagDef<PkgLoss, 5, 33> {
            static constexpr const char* name = "PKGLOSS";
            static constexpr const char* shortText = "Flag indicating that the device lost data when sending via USB.";
            static constexpr const char* offText = "no packetloss";
            static constexpr const char* onText = "packets are lost";
        };
        struct MixerClip : StatusClipDef<MixerClip, 6, 34, 35> {
            static constexpr const char* name = "MIXERCLIP";
            static constexpr const char* shortText = "Flags indicating that the internal mixer is clipping.";
            static constexpr const char* instanceText = "Flag indicating that this mixer-channel is clipping.";
        };
        struct AdcClip : StatusClipDef<AdcClip, 7, 36, 37> {
            static constexpr const char* name = "ADCCLIP";
            static constexpr const char* shortText = "Flags indicating that the AD-converter is clipping.";
            static constexpr const char* instanceText = "Flag indicating that this ADC-channel is clipping.";
        };
        struct ScopeSkipped : StatusFlagDef<ScopeSkipped, 8, 38> {
            static constexpr const char* name = "SCOPESKIPPED";
            static constexpr const char* shortText = "Flag indicating that scope data has been skipped.";
            static constexpr const char* detailedText = "This happens when too much data is being sent over USB.";
            static constexpr const char* offText = "no data skipped";
            static constexpr const char* onText = "data skipped";
        };
        struct DemodSampleLoss : StatusFlagDef<DemodSampleLoss, 9, 39> {
            static constexpr const char* name = "DEMODSAMPLELOSS";
            static constexpr const char* shortText = "Flag indicating that demod data has been lost.";
            static constexpr const char* offText = "no demod data lost";
            static constexpr const char* onText = "demod data lost";
        };
    };

    struct FifoLevel : PlainNodeDef<FifoLevel, 3, 40> {
        static constexpr const char* name = "FIFOLEVEL";
        static constexpr HelpItem helpItems[] = {helpText("short", "Percentage of tx-fifo used."),
                                                 helpText("read", "double"),
                                                 helpText("unit", "Percent"),
                                                 helpInteger("from", 0),
                                                 helpInteger("to", 100),
                                                 helpInteger("precision", 2)};
    };
    struct ADC0Min : StatusAdcDef<ADC0Min, 4, 41> {
        static constexpr const char* name = "ADC0MIN";
        static constexpr const char* shortText = "The minimum value on Signal Input 1 (ADC0) during 100 ms.";
    };
    struct ADC0Max : StatusAdcDef<ADC0Max, 5, 42> {
        static constexpr const char* name = "ADC0MAX";
        static constexpr const char* shortText = "The maximum value on Signal Input 1 (ADC0) during 100 ms.";
    };
    struct ADC1Min : StatusAdcDef<ADC1Min, 6, 43> {
        static constexpr const char* name = "ADC1MIN";
        static constexpr const char* shortText = "The minimum value on Signal Input 2 (ADC1) during 100 ms.";
    };
    struct ADC1Max : StatusAdcDef<ADC1Max, 7, 44> {
        static constexpr const char* name = "ADC1MAX";
        static constexpr const char* shortText = "The maximum value on Signal Input 2 (ADC1) during 100 ms.";
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// The instrument's status block: 20 bytes at the start of the group's block.
namespace status {
constexpr uint32_t kTimeOffset = 0;
constexpr uint32_t kTimeBytes = 8;
constexpr uint32_t kFlagsOffset = 8;
constexpr uint32_t kFifoLevelOffset = 12;
constexpr uint32_t kAdcOffset = 16;
constexpr uint32_t kAdcBytes = 4;
constexpr uint32_t kFlagCount = 10;  // bits 0 to 9 of the flag word have a node each
}  // namespace status

// Feature code 11, the status word: a record of one register block.
QV_STATUS StatusFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);

// Makes the flag node T below `parent` with an endpoint that only the flag
// word's update feeds; its endpoint id goes to `idSlot`.
template <class T>
QV_STATUS StatusFlagEPCreate(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent,
                             int32_t& idSlot);

// The 64-bit device time in ticks of the 210 MHz clock (an integer).
QV_STATUS StatusTimeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS StatusTimeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
// Pushes the flag word, then hands each of bits 0 to 9 to its flag endpoint.
QV_STATUS StatusBinaryUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
// The fill level in percent of the raw byte (255 = 100 %).
QV_STATUS StatusFifoLevelReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS StatusFifoLevelUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                    uint32_t length);
// The four ADC extremes share one binding (on ADC0MIN, the carrier); each
// endpoint keeps the four endpoint ids in its byte buffer.
QV_STATUS StatusAdcExtremeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS StatusAdcExtremeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                     uint32_t length);

}  // namespace tarnix
