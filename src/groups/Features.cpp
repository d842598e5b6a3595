#include "groups/Features.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "core/ValueRecord.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "engine/nodedefs/NodeDefFamily.h"

#include <boost/format.hpp>

#include <algorithm>
#include <array>

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;

namespace {

constexpr std::size_t kOptionListBufferBytes = 36864;
constexpr uint32_t kDevTypeValueBytes = 4;
constexpr uint32_t kMaskBytes = 8;
constexpr int kBoardFlagOption = 4;

// Names of the option bits 0 to 5; higher bits have none.
constexpr std::array<const char*, 6> kOptionNames = {"MDL", "PLX", "PIX", "RTC", "HFR", "XDM"};
constexpr std::array<const char*, 4> kDevTypeNames = {"DEFAULT", "LQ3LI", "LQ3IS", "UNKNOWN"};

uint32_t devTypeIndex(uint64_t mask) { return uint32_t(mask >> 6) & 3u; }

uint64_t storedMask(const DeviceStateEPNode& ep) {
    return ep.value.size() >= kMaskBytes ? le::get64(ep.value.data()) : 0;
}

// DEVTYPE and OPTIONS keep each other's endpoint id in their byte buffers.
EPNodePtr partnerOf(DeviceAccess& device, const DeviceStateEPNode& ep) {
    if (ep.bytes.size() < 4) return EPNodePtr();
    return DeviceStateEPNodesFind(stateOf(device).epNodes, int32_t(le::get32(ep.bytes.data())));
}

QV_STATUS linkPartner(DeviceStateEPNode& ep, int32_t partnerId) {
    uint8_t id[4];
    le::put32(id, uint32_t(partnerId));
    return DeviceStateEPNodeSetBytes(ep, sizeof id, id);
}

QV_STATUS replyText(DeviceAccess& device, const DeviceStateEPNode& ep, uint16_t seq, uint16_t session,
                    const std::string& text) {
    return ReturnParamValueByteArray(outputOf(device), seq, session, uint32_t(ep.epId), VALUE_FLAG_REPLY_ONLY,
                                     text.data(), uint32_t(text.size()));
}

QV_STATUS pushText(DeviceAccess& device, const DeviceStateEPNode& ep, const std::string& text) {
    return ReturnParamValueByteArray(outputOf(device), kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                     uint32_t(ep.epId), VALUE_FLAG_CHANGED, text.data(), uint32_t(text.size()));
}

}  // namespace

const char* FeaturesDevTypeName(uint64_t mask) { return kDevTypeNames[devTypeIndex(mask)]; }

QV_STATUS FeaturesOptionList(uint64_t mask, const HwInfoWord& hwInfo, std::string& text) {
    text.clear();
    for (int bit = 0; bit < 64; ++bit) {
        bool set = (mask >> bit) & 1u;
        if (bit == kBoardFlagOption && hwInfo.revision > 0) set = hwInfo.flag;
        if (!set || std::size_t(bit) >= kOptionNames.size()) continue;
        const std::string name = kOptionNames[std::size_t(bit)];
        // The name, its newline and one spare byte must fit.
        if (text.size() + name.size() + 2 > kOptionListBufferBytes) return QV_BUFFER_TOO_SMALL;
        text += name;
        text += '\n';
    }
    if (!text.empty()) text.pop_back();
    return QV_NO_ERROR;
}

QV_STATUS FeaturesFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                              uint16_t, const std::vector<Feature*>& items, int count) {
    if (count != 1 || items.size() != 1 || !items[0]) return QV_BUFFER_TOO_SMALL;
    const Feature* item = items[0];
    // OPTIONS binds the whole block of instance 0; any other block size could
    // never deliver a mask.
    if (item->count < 1 || item->stride != kFeaturesBlockBytes) {
        QVLOG(logging::error) << boost::format("FEATURES block refused: %u instances of %u bytes at 0x%08x "
                                               "(one block of %u bytes expected).") %
                                     item->count % item->stride % item->address % kFeaturesBlockBytes;
        return QV_BUFFER_TOO_SMALL;
    }

    EPNodePtr serial =
        DeviceStateCreateFeatureEP<LQ3::Features::Serial>(device, group, groupNode, 0, 0, item, 0, 0, -1);
    serial->readData = FeaturesSerialReadData;

    EPNodePtr devType = DeviceStateCreateFeatureEP<LQ3::Features::DevType>(device, group, groupNode,
                                                                           kDevTypeValueBytes, 0, item, 0, 0, -1);
    devType->readData = FeaturesDevTypeReadData;
    devType->updateData = FeaturesDevTypeUpdateData;
    storeWord(*devType, 0);

    EPNodePtr options = DeviceStateCreateFeatureEP<LQ3::Features::Options>(
        device, group, groupNode, item->stride, int32_t(item->stride), item, 0, 0, -1);
    options->readData = FeaturesOptionsReadData;
    options->writeNumber = nullptr;
    options->writeData = DeviceStateEPWriteRegisters;
    options->requestData = DeviceStateEPRequestRegisters;
    options->updateData = FeaturesOptionsUpdateData;
    std::fill(options->value.begin(), options->value.end(), 0);

    if (QV_STATUS s = DeviceStateRequestEP(device, options->epId)) return s;
    QVLOG(logging::debug) << boost::format("CREATED SFCR Node, Modulo=%u, Address=0x%08x") % item->stride %
                                 item->address;
    if (QV_STATUS s = linkPartner(*options, devType->epId)) return s;
    EPNodePtr found = DeviceStateEPNodesFind(stateOf(device).epNodes, devType->epId);
    if (!found) return QV_VALUE_NOT_FOUND;
    return linkPartner(*found, options->epId);
}

QV_STATUS FeaturesSerialReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyText(device, *ep, seq, session, std::to_string(device.serial()));
}

QV_STATUS FeaturesDevTypeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    const EPNodePtr options = partnerOf(device, *ep);
    if (!options) return QV_VALUE_NOT_FOUND;
    return replyText(device, *ep, seq, session, FeaturesDevTypeName(storedMask(*options)));
}

QV_STATUS FeaturesDevTypeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                    uint32_t length) {
    if (length != kMaskBytes) return QV_BUFFER_TOO_SMALL;
    const uint64_t mask = le::get64(data);
    const uint32_t index = devTypeIndex(mask);
    if (index == storedWord(*ep)) return QV_NO_ERROR;
    storeWord(*ep, index);
    return pushText(device, *ep, FeaturesDevTypeName(mask));
}

QV_STATUS FeaturesOptionsReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    std::string text;
    if (QV_STATUS s = FeaturesOptionList(storedMask(*ep), stateOf(device).hwInfo, text)) return s;
    return replyText(device, *ep, seq, session, text);
}

QV_STATUS FeaturesOptionsUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                    uint32_t length) {
    if (length != kFeaturesBlockBytes || ep->value.size() < kMaskBytes) return QV_BUFFER_TOO_SMALL;
    const uint64_t mask = le::get64(data + kFeaturesMaskOffset);
    if (mask == storedMask(*ep)) return QV_NO_ERROR;
    le::put64(ep->value.data(), mask);

    std::string text;
    if (QV_STATUS s = FeaturesOptionList(mask, stateOf(device).hwInfo, text)) return s;
    if (QV_STATUS s = pushText(device, *ep, text)) return s;
    const EPNodePtr devType = partnerOf(device, *ep);
    if (!devType) return QV_VALUE_NOT_FOUND;
    uint8_t maskBytes[kMaskBytes];
    le::put64(maskBytes, mask);
    return FeaturesDevTypeUpdateData(device, devType, maskBytes, kMaskBytes);
}

}  // namespace tarnix
