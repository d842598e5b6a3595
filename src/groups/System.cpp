#include "groups/System.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/ModuleFailure.h"
#include "groups/common/BooleanUpdateData.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/SharedWriteHandlers.h"
#include "groups/common/ValueReplies.h"

#include <boost/current_function.hpp>
#include <boost/format.hpp>

#include <cstring>
#include <string>

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;

namespace {

// Where the failures of this group are reported.
constexpr const char* kModule = "LQ3System";
constexpr int kOldBitstreamLine = 39;

const std::string kRule(44, '=');
const std::string kThinRule(44, '-');

std::string paddedName(const char* name) {
    std::string padded(name);
    if (padded.size() < kDebugStatusNameWidth) padded.append(kDebugStatusNameWidth - padded.size(), ' ');
    return padded;
}

void logDebugStatus(uint32_t revision, uint32_t bits, const char* function) {
    QVLOG(logging::debug) << kRule;
    QVLOG(logging::debug) << function;
    QVLOG(logging::debug) << kThinRule;
    QVLOG(logging::debug) << "HWRevision: " << revision;
    const auto& names = DebugStatusFlagNames();
    for (uint32_t bit = 0; bit < names.size(); ++bit) {
        if (names[bit][0] == '\0') continue;
        QVLOG(logging::debug) << paddedName(names[bit]) << (((bits >> bit) & 1u) ? ": TRUE" : ": FALSE");
    }
    QVLOG(logging::debug) << kRule;
}

QV_STATUS queueHashCommands(DeviceAccess& device) {
    if (!device.bitstreamProgrammed())
        return DeviceStateCmdRequest(device, BitstreamHashReadComplete,
                                     [](DeviceAccess& dev, const std::shared_ptr<void>&) { needBitstreamReprogram(dev); },
                                     nullptr, CMD_READ_BITSTREAM_HASH, 0, nullptr, 0);
    std::array<uint8_t, kBitstreamHashBytes> digest{};
    if (!device.embeddedBitstreamDigest(digest)) return QV_NO_ERROR;
    QVLOG(logging::debug) << "storing bitstream hash";
    // The instrument keeps the digest; its reply carries nothing of use.
    return DeviceStateCmdRequest(device, nullptr, nullptr, nullptr, CMD_STORE_BITSTREAM_HASH, 0, digest.data(),
                                 uint32_t(digest.size()));
}

}  // namespace

const std::vector<NodeValueListEntry>& LQ3::System::ExtClk::values() {
    static const std::vector<NodeValueListEntry> table{{"Internal clock", 0}, {"External clock", 1}};
    return table;
}

const std::array<const char*, 32>& DebugStatusFlagNames() {
    static const std::array<const char*, 32> names{{"read calibration data",
                                                    "read pll calibration data",
                                                    "read calib v1.2 data",
                                                    "read gain corrections data (hw < 1.2)",
                                                    "read gain-range-table data (hw >= 1.2)",
                                                    "init interrupts",
                                                    "init spi",
                                                    "init command memory",
                                                    "init interrupts system",
                                                    "init flash",
                                                    "init command handler",
                                                    "",
                                                    "",
                                                    "",
                                                    "",
                                                    "",
                                                    "valid gain corrections (hw < 1.2)",
                                                    "valid gain-range-table (hw >= 1.2)",
                                                    "valid calib v1.2 (hw >= 1.2)",
                                                    "set dac calib channel 1",
                                                    "set dac calib channel 2",
                                                    "communication pointers failed",
                                                    "initialized communication pointers",
                                                    "",
                                                    "",
                                                    "",
                                                    "",
                                                    "",
                                                    "",
                                                    "",
                                                    "default gain range set 1",
                                                    "default gain range set 2"}};
    return names;
}

QV_STATUS SystemFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t, const std::vector<Feature*>& items, int count) {
    if (count != 1 || items.size() != 1 || !items[0] || !group || !groupNode) return QV_BUFFER_TOO_SMALL;
    const Feature* record = items[0];

    EPNodePtr extClk = CreateLeaf<LQ3::System::ExtClk>(device, group, groupNode, 4, 4, record, 0, 0);
    BindRegisterSetting(*extClk, BooleanReadData, BooleanWriteNumber, BooleanUpdateData);
    storeWord(*extClk, 0);
    if (QV_STATUS s = DeviceStateRequestEP(device, extClk->epId)) return s;

    EPNodePtr revision = CreateLeaf<LQ3::System::HWRevision>(device, group, groupNode, 0, 0, record, 0, 0);
    revision->readData = HWRevisionReadData;

    if (QV_STATUS s = DeviceStateCmdRequest(device, DebugStatusRequestComplete, DebugStatusRequestTimeout, nullptr,
                                            CMD_DEBUG_STATUS, 0, nullptr, 0))
        return s;
    if (QV_STATUS s = queueHashCommands(device)) return s;
    QVLOG(logging::debug) << boost::format("__BITSTREAM_REV=%u") % kBitstreamRevision;
    return QV_NO_ERROR;
}

QV_STATUS HWRevisionReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, int64_t(stateOf(device).hwInfo.revision));
}

void DebugStatusRequestComplete(DeviceAccess&, const uint8_t* data, uint32_t length, const std::shared_ptr<void>&) {
    if (length == kDebugStatusBytes && data) {
        logDebugStatus(le::get32(data), le::get32(data + 4), BOOST_CURRENT_FUNCTION);
        return;
    }
    if (length == 4 && data) {
        QVLOG(logging::error) << boost::format(
                                     "Illegal length of debug status packet detected! Length = %u, Data %u.") %
                                     length % le::get32(data);
    } else {
        QVLOG(logging::error) << boost::format("Illegal length of debug status packet detected! Length = %u.") %
                                     length;
    }
    // The debug status is for the log only: a packet of another length is
    // reported there and the device carries on (ending it would repeat at
    // every re-find of the instrument).
}

void DebugStatusRequestTimeout(DeviceAccess&, const std::shared_ptr<void>&) {
    QVLOG(logging::error) << BOOST_CURRENT_FUNCTION;
}

void BitstreamHashReadComplete(DeviceAccess& device, const uint8_t* data, uint32_t length,
                               const std::shared_ptr<void>&) {
    if (length != kBitstreamHashBytes || !data) needBitstreamReprogram(device);
    std::array<uint8_t, kBitstreamHashBytes> stored{};
    std::memcpy(stored.data(), data, stored.size());
    QVLOG(logging::debug) << "Comparing bitstream hashes.";
    std::array<uint8_t, kBitstreamHashBytes> embedded{};
    if (!device.embeddedBitstreamDigest(embedded)) return;
    if (stored != embedded) needBitstreamReprogram(device);
}

void needBitstreamReprogram(DeviceAccess& device) {
    QVLOG(logging::debug) << BOOST_CURRENT_FUNCTION;
    device.setNeedProgram();
    throwDeviceFailure("There is an old bitstream running!", BOOST_CURRENT_FUNCTION, kModule, kOldBitstreamLine);
}

}  // namespace tarnix
