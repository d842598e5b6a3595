#include "engine/DeviceState.h"

#include "platform/endian/ByteOrder.h"
#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/QVException.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/TreeNotices.h"
#include "engine/RootNodes.h"

#include <boost/format.hpp>

#include <new>

namespace tarnix {

namespace {

constexpr uint32_t kApertureAddress = 0x08020000;
constexpr uint32_t kApertureHeaderLength = 12;
constexpr const char* kApertureTag = "FEATURE ";

// The built-in gain ranges: 0.005, 0.01 to 0.09 in steps of 0.01, 0.1 to 2.0 in
// steps of 0.1; factor 1.0 each.
std::vector<GainRangeEntry> defaultGainRanges() {
    std::vector<GainRangeEntry> list;
    list.reserve(DeviceStateGroupData::kGainRangeDefaults);
    auto add = [&](double range) {
        GainRangeEntry e;
        e.range = range;
        list.push_back(e);
    };
    add(0.005);
    for (int i = 1; i <= 9; ++i) add(i * 0.01);
    for (int i = 1; i <= 20; ++i) add(i * 0.1);
    return list;
}

}  // namespace

DeviceState::DeviceState() {
    statsEPIds.fill(-1);
    features.maximum = kMaxFeatures;
    for (auto& list : groups.gainRanges) list = defaultGainRanges();
}

DeviceState::~DeviceState() = default;

DeviceState& stateOf(DeviceAccess& device) {
    DeviceState* state = device.deviceState();
    if (!state) QV_THROW(QVException("Device has no device state."));
    return *state;
}

QV_STATUS DeviceStateCreate(DeviceAccess& device) {
    auto& slot = device.deviceStateSlot();
    try {
        slot = std::make_unique<DeviceState>();
    } catch (const std::bad_alloc&) {
        return QV_ALLOC_FAILED;
    }
    DeviceState& state = *slot;
    // Timers armed before the first pass count from now, not from the clock's origin.
    state.currentTime = device.now();
    if (QV_STATUS s = FeatureMapAllocate(state.features)) {
        slot.reset();
        return s;
    }
    state.cacheGeneration = state.features.generation;
    state.cacheChangeCounter = state.epNodes.changeCounter;

    try {
        if (QV_STATUS s = DeviceStateCreateDeviceTree(device)) {
            // The first failure is the answer; the clean-up's own status adds nothing.
            DeviceStateDestroy(device).ignore();
            return s;
        }
    } catch (...) {
        // The exception is the answer; the clean-up's own status adds nothing.
        DeviceStateDestroy(device).ignore();
        throw;
    }
    if (QV_STATUS s = DeviceStateFeatureInit(device)) {
        // The first failure is the answer; the clean-up's own status adds nothing.
        DeviceStateDestroy(device).ignore();
        return s;
    }
    if (state.apertureLength != 0 && !state.apertureTag.empty()) state.bootStep = BootStep::Start;
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateDestroy(DeviceAccess& device) {
    DeviceState* state = device.deviceState();
    if (!state) return QV_NO_ERROR;
    if (state->tree) {
        TreeNode::Ptr root;
        {
            DispatcherTreeRemover remover(state->tree);
            root = remover.getNode();
        }
        if (state->announced && DispatcherNotifyDeviceDisconnected(device.treeRegistry(), root) != QV_NO_ERROR) {
            QVLOG_LIMITED(logging::error) << "Can't push device message!";
        }
        state->tree.reset();
    }
    if (QV_STATUS s = FeatureMapDestroy(state->features)) return s;
    state->nodeGroups.clear();
    DeviceStateEPNodesClear(state->epNodes);
    device.deviceStateSlot().reset();
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateFeatureInit(DeviceAccess& device) {
    DeviceState& state = stateOf(device);
    state.apertureAddress = kApertureAddress;
    state.apertureLength = kApertureHeaderLength;
    state.apertureTag = kApertureTag;
    state.groups.auxOutDerived.fill(0.0);
    state.groups.demodInputIndex.fill(-1);
    return QV_NO_ERROR;
}

bool DeviceStateSetStats(DeviceAccess& device, int value, double stat) {
    if (value < 0 || value >= STATS_COUNT) return true;
    DeviceState& state = stateOf(device);
    EPNodePtr ep = DeviceStateEPNodesFind(state.epNodes, state.statsEPIds[std::size_t(value)]);
    if (!ep || !ep->updateData) return true;
    uint8_t bytes[8];
    le::putDouble(bytes, stat);
    const QV_STATUS s = ep->updateData(device, ep, bytes, sizeof bytes);
    if (s == QV_NO_ERROR) return true;
    // A momentarily full output FIFO only loses this report; the next one follows.
    if (s == QV_OVERFLOW) return false;
    QV_THROW(QVDeviceException((boost::format("Can't get stats, error %i") % s.code()).str()));
}

QV_STATUS DeviceStateRequestEP(DeviceAccess& device, int epId) {
    DeviceState& state = stateOf(device);
    const uint32_t before = state.epNodes.awaitingCount;
    if (QV_STATUS s = DeviceStateEPNodesMarkRequest(state.epNodes, epId)) return s;
    if (before == 0 && state.epNodes.awaitingCount == 1) ++state.initCounter;
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateClearAwaiting(DeviceAccess& device, int epId) {
    DeviceState& state = stateOf(device);
    const uint32_t before = state.epNodes.awaitingCount;
    // Clearing the awaiting mark cannot fail.
    DeviceStateEPNodesClearAwaiting(state.epNodes, epId).ignore();
    // A batch of requests that was not opened through DeviceStateRequestEP must
    // not drive the counter below zero.
    if (before == 1 && state.epNodes.awaitingCount == 0 && state.initCounter > 0) {
        if (--state.initCounter == 0) return DeviceStateStartLedAnimation(device, state);
    }
    return QV_NO_ERROR;
}

bool DeviceStateAwaitsInitialValues(DeviceAccess& device) { return stateOf(device).epNodes.awaitingCount > 0; }

QV_STATUS DeviceStateStartLedAnimation(DeviceAccess& device, DeviceState& state) {
    const TreeNode::Ptr root = state.tree ? state.tree->root : TreeNode::Ptr();
    if (state.announced) return DispatcherNotifyTreeChanged(device.treeRegistry(), root);
    if (QV_STATUS s = DispatcherNotifyDeviceConnected(device.treeRegistry(), root)) return s;
    // Marked before the LED write: an instrument pulled out right now fails
    // that write, and the clients that saw the tree come must see it go.
    state.announced = 1;
    device.setInitialized();
    QVLOG(logging::info) << "Start LED animation.";
    return DeviceStateLedRegistersSet(device);
}

QV_STATUS DeviceStateAddLedRegister(DeviceAccess& device, uint32_t address) {
    try {
        stateOf(device).ledRegisters.push_back(address);
    } catch (const std::bad_alloc&) {
        return QV_ALLOC_FAILED;
    }
    return QV_NO_ERROR;
}

namespace {

void writeLeds(DeviceAccess& device, const DeviceState& state, uint32_t word) {
    for (uint32_t address : state.ledRegisters) queueRegisterWord(device, address, word);
    device.flush();
}

}  // namespace

QV_STATUS DeviceStateLedRegistersSet(DeviceAccess& device) {
    DeviceState& state = stateOf(device);
    if (state.ledFlags & 1) return QV_NO_ERROR;
    state.ledTime.reset();
    state.ledFlags |= 1;
    state.ledCounter = 0;
    writeLeds(device, state, 1);
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateLedRegistersClear(DeviceAccess& device) {
    DeviceState& state = stateOf(device);
    if (!(state.ledFlags & 1)) return QV_NO_ERROR;
    state.ledFlags &= uint8_t(~1u);
    writeLeds(device, state, 0);
    return QV_NO_ERROR;
}

}  // namespace tarnix
