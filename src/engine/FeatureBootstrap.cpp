#include "engine/FeatureBootstrap.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/FeatureGroupBuild.h"
#include "engine/FeatureList.h"
#include "engine/MessageHandling.h"

#include <boost/format.hpp>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tarnix {

namespace {

constexpr uint32_t kSystemCode = 12;
constexpr uint32_t kBoardRegisterOffset = 8;
constexpr uint32_t kBoardRegisterBytes = 4;
constexpr uint32_t kLowAddressBits = 0xFFF;
constexpr char kListItemName[9] = "FEATURES";
constexpr char kHwInfoItemName[9] = "HWINFO";  // zero-padded to 8

void request(DeviceAccess& device, DeviceState& state, uint32_t address, uint32_t length) {
    device.queueRequestData(address, length);
    state.stepTime.reset();
}

void requestWholeList(DeviceAccess& device, DeviceState& state) {
    request(device, state, state.apertureAddress, state.apertureLength + state.featureListLength);
}

// Removes the temporary board-register item, so that a discovery that starts
// again can insert it anew at the same address.
QV_STATUS dropHwInfoItem(DeviceState& state) {
    if (state.hwInfoRow == -1) return QV_NO_ERROR;
    if (QV_STATUS s = FeatureMapClearRow(state.features, state.hwInfoRow)) return s;
    state.hwInfoItem = nullptr;
    state.hwInfoRow = -1;
    return QV_NO_ERROR;
}

void repeatRequest(DeviceAccess& device, DeviceState& state) {
    switch (state.bootStep) {
        case BootStep::Aperture:
            QVLOG(logging::warning) << boost::format(
                                           "Requesting featurelist aperture again (Address=%08x, Length=%u)!") %
                                           state.apertureAddress % state.apertureLength;
            device.queueRequestData(state.apertureAddress, state.apertureLength);
            break;
        case BootStep::List:
        case BootStep::Build:
            QVLOG(logging::warning) << boost::format(
                                           "Requesting whole featurelist again (Address=%08x, Length=%u)!") %
                                           state.apertureAddress % (state.apertureLength + state.featureListLength);
            device.queueRequestData(state.apertureAddress, state.apertureLength + state.featureListLength);
            break;
        case BootStep::Board:
            QVLOG(logging::warning) << boost::format(
                                           "Requesting whole board register again (Address=%08x, Length=%u)!") %
                                           state.boardRegisterAddress % state.boardRegisterLength;
            device.queueRequestData(state.boardRegisterAddress, state.boardRegisterLength);
            break;
        default:
            break;
    }
}

// Step 3: the SYSTEM record names the board register, which is read next.
QV_STATUS locateBoardRegister(DeviceAccess& device, DeviceState& state, const std::vector<FeatureRecordView>& views,
                              uint32_t blockAddress) {
    auto system = std::find_if(views.begin(), views.end(),
                               [](const FeatureRecordView& v) { return v.header.code == kSystemCode; });
    if (system == views.end()) return QV_NO_ERROR;  // asked for again after the retry interval
    if (system->dataLength < kFeatureBlockBytes) {
        QVLOG(logging::error) << boost::format(
                                     "The SYSTEM feature carries no register block (%u data bytes); the board "
                                     "register can't be located.") %
                                     system->dataLength;
        return QV_BUFFER_TOO_SMALL;
    }
    const FeatureBlock block = readFeatureBlock(system->data);
    state.boardRegisterAddress = block.startAddress + kBoardRegisterOffset;
    state.boardRegisterLength = kBoardRegisterBytes;
    if (QV_STATUS s = dropHwInfoItem(state)) return s;
    Feature* item = nullptr;
    if (QV_STATUS s = FeatureMapInsert(state.features, state.boardRegisterAddress, 1, kBoardRegisterBytes,
                                       blockAddress | kLowAddressBits, kHwInfoItemName, &item))
        return s;
    // The item was inserted just now, so its row is found.
    FeatureMapRowOf(item, state.features, &state.hwInfoRow).ignore();
    state.hwInfoItem = item;
    item->dataFunc = LQ3ProcessHwInfo;
    state.bootStep = BootStep::Board;
    request(device, state, state.boardRegisterAddress, state.boardRegisterLength);
    return QV_NO_ERROR;
}

}  // namespace

void DeviceStateBootstrapRestart(DeviceAccess& device) {
    DeviceState& state = stateOf(device);
    state.bootStep = BootStep::Start;
    state.stepTime = device.now();
}

void DeviceStateBootstrapPoll(DeviceAccess& device) {
    DeviceState& state = stateOf(device);
    if (state.bootStep == BootStep::Start) {
        // A discovery that was interrupted before its board register arrived
        // left the board-register item behind.
        // A row that is gone already is all the clean-up wants.
        dropHwInfoItem(state).ignore();
        device.queueRequestData(state.apertureAddress, state.apertureLength);
        state.bootStep = BootStep::Aperture;
    }
    if (state.bootStep < BootStep::Aperture || state.bootStep > BootStep::Build) return;
    const EngineTime now = device.now();
    if (!state.stepTime) {
        state.stepTime = now;
        return;
    }
    if (now - *state.stepTime < kBootstrapRetryInterval) return;
    repeatRequest(device, state);
    state.stepTime = now;
}

QV_STATUS DeviceStateBootstrapAperture(DeviceAccess& device, uint32_t address, uint32_t length, const uint8_t* data) {
    DeviceState& state = stateOf(device);
    if (state.bootStep != BootStep::Aperture || address != state.apertureAddress) return QV_NO_ERROR;
    if (length < state.apertureLength || length < 12) return QV_BUFFER_TOO_SMALL;
    const std::size_t tagLength = std::min<std::size_t>(state.apertureTag.size(), 8);
    if (std::memcmp(data, state.apertureTag.data(), tagLength) != 0) return QV_NO_ERROR;

    const uint32_t listLength = le::get32(data + 8);
    // The list is read as one device message; a longer one can never arrive.
    if (listLength > kDeviceMessageBufferBytes - state.apertureLength) {
        QVLOG(logging::error) << boost::format("Feature list length %u in the aperture header exceeds %u bytes.") %
                                     listLength % (kDeviceMessageBufferBytes - state.apertureLength);
        return QV_BUFFER_TOO_SMALL;
    }
    state.featureListLength = listLength;
    if (state.featureListRow != -1) {
        if (QV_STATUS s = FeatureMapClearRow(state.features, state.featureListRow)) return s;
        state.featureListItem = nullptr;
        state.featureListRow = -1;
    }
    Feature* item = nullptr;
    if (QV_STATUS s = FeatureMapInsert(state.features, state.apertureAddress, 1,
                                       state.apertureLength + state.featureListLength,
                                       state.apertureAddress | kLowAddressBits, kListItemName, &item))
        return s;
    state.featureListItem = item;
    // The item was inserted just now, so its row is found.
    FeatureMapRowOf(item, state.features, &state.featureListRow).ignore();
    item->dataFunc = LQ3ProcessFeatureList;
    state.bootStep = BootStep::List;
    requestWholeList(device, state);
    return QV_NO_ERROR;
}

QV_STATUS LQ3ProcessFeatureList(DeviceAccess& device, Feature&, uint32_t address, uint32_t, const uint8_t* data,
                                uint32_t length) {
    DeviceState& state = stateOf(device);
    const BootStep step = state.bootStep;
    if (step != BootStep::List && step != BootStep::Build && step != BootStep::Done) return QV_NO_ERROR;
    const uint32_t skip = address == state.apertureAddress ? std::min(state.apertureLength, length) : 0;
    std::vector<FeatureRecordView> views;
    views.reserve(kMaxFeatureRecords);
    if (QV_STATUS s = FeatureListParse(data + skip, length - skip, views)) return s;
    if (step == BootStep::List) return locateBoardRegister(device, state, views, address);
    // The run holds one count of InitCounter, so that the device is announced
    // only once the list is built and every value it asked for has arrived.
    const bool counted = !views.empty();
    if (counted) ++state.initCounter;
    return LQ3BuildFeatureGroups(device, views, counted);
}

QV_STATUS LQ3ProcessHwInfo(DeviceAccess& device, Feature&, uint32_t, uint32_t, const uint8_t* data,
                           uint32_t length) {
    DeviceState& state = stateOf(device);
    if (state.bootStep != BootStep::Board) return QV_NO_ERROR;
    if (length < kBoardRegisterBytes) {
        QVLOG(logging::error) << boost::format("The board register arrived with %u bytes instead of %u.") % length %
                                     kBoardRegisterBytes;
        return QV_BUFFER_TOO_SMALL;
    }
    const uint32_t word = le::get32(data);
    state.hwInfo.raw = word;
    state.hwInfo.revision = word & 7u;
    state.hwInfo.flag = (word & 8u) != 0;
    if (QV_STATUS s = dropHwInfoItem(state)) return s;
    state.bootStep = BootStep::Build;
    requestWholeList(device, state);
    return QV_NO_ERROR;
}

}  // namespace tarnix
