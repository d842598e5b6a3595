#include "engine/FeatureGroupBuild.h"

#include "core/Logging.h"
#include "core/QVException.h"
#include "core/tree/DispatcherTreeLock.h"
#include "engine/DeviceState.h"
#include "engine/FeatureBootstrap.h"

#include <boost/current_function.hpp>
#include <boost/format.hpp>

#include <algorithm>
#include <exception>

namespace tarnix {

namespace {

constexpr uint32_t kKCtrlCode = 14;

void logNotProcessed(const FeatureRecordView& view) {
    const FeatureHeader& h = view.header;
    QVLOG(logging::debug) << "---------------------------------------------";
    QVLOG(logging::debug) << "Not processed feature:";
    QVLOG(logging::debug) << boost::format("Code = %04x") % h.code;
    QVLOG(logging::debug) << boost::format("Version = %u") % h.version;
    QVLOG(logging::debug) << boost::format("Length = %u") % h.length;
    QVLOG(logging::debug) << boost::format("Name = '%s' (Code=%04x)") % featureNameText(h.name) % h.code;
    QVLOG(logging::debug) << "---------------------------------------------";
}

FeatureRecordView* firstRecordOf(std::vector<FeatureRecordView>& views, uint32_t code) {
    for (FeatureRecordView& view : views)
        if (view.header.code == code) return &view;
    return nullptr;
}

// Gives back the count of InitCounter that the run took. A device is never
// announced from a list that failed: until it has been announced, a failed run
// keeps one count held, which the next successful run gives back with its own.
QV_STATUS releaseRunCount(DeviceAccess& device, DeviceState& state, bool succeeded) {
    int release = 1;
    if (!succeeded && !state.announced && !state.featureRunCountHeld) {
        state.featureRunCountHeld = true;
        return QV_NO_ERROR;
    }
    if (succeeded && state.featureRunCountHeld) {
        state.featureRunCountHeld = false;
        ++release;
    }
    if (state.initCounter <= 0) return QV_NO_ERROR;
    state.initCounter = std::max(0, state.initCounter - release);
    if (state.initCounter == 0) return DeviceStateStartLedAnimation(device, state);
    return QV_NO_ERROR;
}

// The link functions of every row that has one, then the device node's
// children and the register map sorted, all under one tree lock.
QV_STATUS linkAndSort(DeviceAccess& device, DeviceState& state, const std::vector<int>& ids) {
    DispatcherTreeLocker lock(state.tree);
    for (uint32_t code : FeatureOrder) {
        const FeatureInitMapEntryPtr entry = FeatureInitMapFind(device.featureInitMap(), code);
        if (!entry || !entry->getLinkFunc()) continue;
        DeviceStateNodeGroup* group = nullptr;
        if (QV_STATUS s = entry->getOrCreateGroup(device, lock.getNode(), &group)) return s;
        if (!group) return QV_VALUE_NOT_FOUND;
        if (QV_STATUS s = entry->getLinkFunc()(device, DeviceStateNodeGroupNode(*group), ids, int(ids.size())))
            return s;
    }
    lock.getNode()->sortChildren();
    return FeatureMapSort(state.features);
}

// Runs `step`; an exception that a group's code throws while it builds from the
// list (a malformed list must not end the device, let alone the server) is
// logged and becomes 0x8010. A device failure (a stalled or vanished
// instrument met by a flush, or a group that gives the device up) still ends
// the device: swallowed, it would leave the write queue out of step with the
// instrument.
template <class Step>
QV_STATUS guarded(Step step) {
    try {
        return step();
    } catch (const QVDeviceException&) {
        throw;
    } catch (const std::exception&) {
        logCurrentExceptionBanner();
        return QV_BUFFER_TOO_SMALL;
    }
}

}  // namespace

QV_STATUS LQ3ProcessFeatureCode1(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint16_t, const char*,
                                 const uint8_t*, uint32_t length) {
    return length >= 4 ? QV_NO_ERROR : QV_BUFFER_TOO_SMALL;
}

QV_STATUS DeviceStateCreateFeatureGroup(DeviceAccess& device, uint16_t version, const char* name8,
                                        const uint8_t* data, uint32_t length, const FeatureInitMapEntryPtr& entry) {
    DeviceState& state = stateOf(device);
    DispatcherTreeLocker lock(state.tree);
    DeviceStateNodeGroup* group = nullptr;
    TreeNode::Ptr groupNode;
    if (entry->groupTypeId() != 0) {
        if (QV_STATUS s = entry->getOrCreateGroup(device, lock.getNode(), &group)) return s;
        if (!group) return QV_VALUE_NOT_FOUND;
        if (QV_STATUS s = DeviceStateNodeGroupClear(device, *group)) return s;
        groupNode = DeviceStateNodeGroupNode(*group);
    }
    if (entry->processFunc) return entry->processFunc(device, group, groupNode, version, name8, data, length);
    const FeatureInitFunc init = entry->getInitFunc();
    if (!init || !group) return QV_NO_ERROR;

    const int32_t blockCount = entry->recordCount;
    if (blockCount < 0 || length != uint32_t(blockCount) * kFeatureBlockBytes) return QV_BUFFER_TOO_SMALL;
    std::vector<Feature*> items(std::size_t(blockCount), nullptr);
    if (QV_STATUS s = FeatureMapReserve(state.features, blockCount)) return s;
    for (int32_t i = 0; i < blockCount; ++i) {
        const FeatureBlock block = readFeatureBlock(data + std::size_t(i) * kFeatureBlockBytes);
        if (QV_STATUS s = FeatureMapInsert(state.features, block.startAddress, block.reps, block.modulo,
                                           block.attribute, name8, &items[std::size_t(i)]))
            return s;
        if (QV_STATUS s = DeviceStateNodeGroupAddFeatureRow(items[std::size_t(i)], device, *group)) return s;
    }
    return init(device, group, groupNode, version, items, blockCount);
}

QV_STATUS LQ3ProcessFeature(DeviceAccess& device, const FeatureHeader& header, const uint8_t* data,
                            uint32_t length, std::vector<int>& ids) {
    const FeatureInitMapEntryPtr entry = FeatureInitMapFind(device.featureInitMap(), header.code);
    if (!entry) return QV_NO_ERROR;
    ids.push_back(entry->groupTypeId());
    const QV_STATUS s = guarded(
        [&] { return DeviceStateCreateFeatureGroup(device, header.version, header.name, data, length, entry); });
    if (s != QV_NO_ERROR) {
        QVLOG(logging::error) << boost::format("Error in %s!") % BOOST_CURRENT_FUNCTION;
    }
    return s;
}

QV_STATUS LQ3BuildFeatureGroups(DeviceAccess& device, std::vector<FeatureRecordView>& views, bool counted) {
    DeviceState& state = stateOf(device);
    std::vector<int> ids;
    ids.reserve(views.size());

    QV_STATUS failure = QV_NO_ERROR;
    for (uint32_t code : FeatureOrder) {
        if (state.bootStep == BootStep::Done && code != kKCtrlCode) continue;
        FeatureRecordView* view = firstRecordOf(views, code);
        if (!view) continue;
        view->processed = true;
        failure = LQ3ProcessFeature(device, view->header, view->data, view->dataLength, ids);
        if (failure) break;
    }
    if (!failure) {
        for (const FeatureRecordView& view : views)
            if (!view.processed) logNotProcessed(view);
        failure = guarded([&] { return linkAndSort(device, state, ids); });
    }
    if (failure) {
        if (!counted) return failure;
        return releaseRunCount(device, state, false);
    }
    if (!counted) return QV_NO_ERROR;
    ++state.cacheGeneration;  // the next data block starts with a clean address cache
    state.bootStep = BootStep::Done;
    QVLOG(logging::info) << "FEATURELIST_DONE!";
    return releaseRunCount(device, state, true);
}

}  // namespace tarnix
