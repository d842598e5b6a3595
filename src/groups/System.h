#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// The system nodes: the clock source switch and the hardware revision, and the
// check that the FPGA design running in the instrument is the one built into
// the server (the MD5 digest of the embedded configuration, which the
// instrument stores for the server and reports back).
namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct System : PlainNodeDef<System, 2, 18> {
    static constexpr const char* name = "SYSTEM";
    static constexpr HelpItem helpItems[] = {helpText("short", "Nodes providing system information and settings.")};

    struct ExtClk : PlainNodeDef<ExtClk, 1, 19> {
        static constexpr const char* name = "EXTCLK";
        static const std::vector<NodeValueListEntry>& values();
        static constexpr HelpItem helpItems[] = {
            helpFlag("setting", true),
            helpText("short", "Boolean value switching from internal to external clock."),
            helpText("detailed",
                     "When using external clock, make sure that a clock generator is connected to the Clock In "
                     "connector."),
            helpText("read", "integer"),
            helpText("write", "integer"),
            helpText("unit", "Boolean"),
            helpInteger("default", 0),
            helpValues("values", &values)};
    };
    struct HWRevision : PlainNodeDef<HWRevision, 2, 20> {
        static constexpr const char* name = "HWREVISION";
        static constexpr HelpItem helpItems[] = {helpText("short", "The revision of the mainboard."),
                                                 helpText("read", "integer")};
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// Mailbox commands of the system group.
enum SystemCommand : uint32_t {
    CMD_STORE_BITSTREAM_HASH = 17,  // payload: the 16-byte digest
    CMD_READ_BITSTREAM_HASH = 18,   // reply: the 16-byte digest stored
    CMD_DEBUG_STATUS = 19,          // reply: hardware revision word, status bit word
};

// The revision of the embedded FPGA configuration; only logged.
constexpr uint32_t kBitstreamRevision = 14939;
constexpr uint32_t kBitstreamHashBytes = 16;
constexpr uint32_t kDebugStatusBytes = 8;
// Every name is shown padded with blanks to this width.
constexpr std::size_t kDebugStatusNameWidth = 38;

// Feature code 12: one register block, whose first word is the clock source.
// Builds EXTCLK and HWREVISION and queues command 19, then 17 when this device
// object configured the FPGA, else 18.
QV_STATUS SystemFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);

QV_STATUS HWRevisionReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);

// The names of the 32 status bits of the debug status (empty: unused bit).
const std::array<const char*, 32>& DebugStatusFlagNames();
// Command 19: logs the packet; any length but 8 ends the device.
void DebugStatusRequestComplete(DeviceAccess& device, const uint8_t* data, uint32_t length,
                                const std::shared_ptr<void>& user);
void DebugStatusRequestTimeout(DeviceAccess& device, const std::shared_ptr<void>& user);
// Command 18: the stored digest; one that differs from the embedded
// configuration's (or is not 16 bytes long) ends the device for reprogramming.
void BitstreamHashReadComplete(DeviceAccess& device, const uint8_t* data, uint32_t length,
                               const std::shared_ptr<void>& user);
// An old design runs: marks the device for reprogramming and ends it.
[[noreturn]] void needBitstreamReprogram(DeviceAccess& device);

}  // namespace tarnix
