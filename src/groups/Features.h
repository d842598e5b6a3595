#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

#include <cstdint>
#include <string>

// The installed-features group: serial number, device type and installed
// options of the instrument, as read-only texts below DEV/FEATURES.
namespace tarnix {

struct HwInfoWord;

namespace NodeDefs {
namespace LQ3 {

struct Features : PlainNodeDef<Features, 3, 21> {
    static constexpr const char* name = "FEATURES";
    static constexpr HelpItem helpItems[] = {
        helpText("short", "Node containing information on features of the device.")};

    struct Serial : PlainNodeDef<Serial, 1, 22> {
        static constexpr const char* name = "SERIAL";
        static constexpr HelpItem helpItems[] = {helpText("short", "Node providing the serial number of the device."),
                                                 helpText("read", "bytearray")};
    };
    struct DevType : PlainNodeDef<DevType, 2, 23> {
        static constexpr const char* name = "DEVTYPE";
        static constexpr HelpItem helpItems[] = {
            helpText("short", "Node providing a string about the type of device."), helpText("read", "bytearray")};
    };
    struct Options : PlainNodeDef<Options, 3, 24> {
        static constexpr const char* name = "OPTIONS";
        static constexpr HelpItem helpItems[] = {
            helpText("short", "Node giving information on enabled options."),
            helpText("detailed",
                     "Reading this node returns a string containing a newline-separated list of all installed options."),
            helpText("read", "bytearray")};
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// The instrument's FEATURES register block: 60 bytes, the options mask at +52.
constexpr uint32_t kFeaturesBlockBytes = 60;
constexpr uint32_t kFeaturesMaskOffset = 52;

// Feature code 17: one register block, on which the three leaves are built.
QV_STATUS FeaturesFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                              uint16_t version, const std::vector<Feature*>& items, int count);

QV_STATUS FeaturesSerialReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS FeaturesDevTypeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
// Called by the OPTIONS update with the 8 bytes of the new mask.
QV_STATUS FeaturesDevTypeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS FeaturesOptionsReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
// Called by the data routing with the whole FEATURES block.
QV_STATUS FeaturesOptionsUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// The device type named by bits 6 and 7 of an options mask.
const char* FeaturesDevTypeName(uint64_t mask);
// The names of the installed options of `mask`, one per line. Bit 4 follows the
// board's flag instead of the mask on boards with a hardware revision.
QV_STATUS FeaturesOptionList(uint64_t mask, const HwInfoWord& hwInfo, std::string& text);

}  // namespace tarnix
