#include "platform/endian/ByteOrder.h"
#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/FeatureBootstrap.h"
#include "engine/MessageHandling.h"

#include <boost/current_function.hpp>

#include <chrono>
#include <vector>

namespace tarnix {

namespace {

constexpr uint32_t kTAmpPollCommand = 23;
constexpr int kLedTicks = 19;
constexpr auto kLedTickInterval = std::chrono::microseconds(100000);
constexpr auto kSigInRewriteDelay = std::chrono::microseconds(200000);

// Where the endpoint's registers are: false when its instance is not in its item
// (the endpoint is then dropped from this pass); address 0 when it has none.
bool registerAddressOf(const FeatureMap& map, const DeviceStateEPNode& ep, uint32_t& address) {
    address = 0;
    if (ep.row < 0 || ep.row >= map.maximum || std::size_t(ep.row) >= map.items.size()) return true;
    const Feature& item = map.items[std::size_t(ep.row)];
    if (ep.instance < 0 || uint32_t(ep.instance) >= item.count) return false;
    const uint64_t relative = uint64_t(uint32_t(ep.instance)) * item.stride + uint32_t(ep.offset);
    address = relative < item.size ? uint32_t(item.address + relative) : 0;
    return true;
}

// Takes the endpoint's pending marks away; a request that will not be sent no
// longer holds up the start-up bookkeeping.
QV_STATUS dropMarks(DeviceAccess& device, DeviceStateEPNode& ep) {
    ep.flags &= uint8_t(~EPFlagWrite);
    if (ep.flags & EPFlagRequest) return DeviceStateClearAwaiting(device, ep.epId);
    return QV_NO_ERROR;
}

// Sends one endpoint: its request first, then its write, at the same address.
QV_STATUS sendEndpoint(DeviceAccess& device, const EPNodePtr& ep, uint32_t address) {
    if (ep->flags & EPFlagRequest) {
        if (ep->requestData) {
            if (QV_STATUS s = ep->requestData(device, ep, address)) return s;
            ep->flags = uint8_t((ep->flags & ~EPFlagRequest) | EPFlagAwaiting);
        } else if (QV_STATUS s = DeviceStateClearAwaiting(device, ep->epId)) {
            return s;  // nothing will answer; the request no longer counts as awaited
        }
    }
    if ((ep->flags & EPFlagWrite) && ep->writeData) {
        if (QV_STATUS s = ep->writeData(device, ep, address)) return s;
    }
    ep->flags &= uint8_t(~(EPFlagWrite | EPFlagRequest));
    return QV_NO_ERROR;
}

// Walks the send set in ascending id order. A failing endpoint loses its marks
// (logged) so that it cannot hold up the others pass after pass; the first
// failure is returned once everything else has been sent.
QV_STATUS sendMarkedEndpoints(DeviceAccess& device, DeviceState& state) {
    QV_STATUS first = QV_NO_ERROR;
    const std::vector<int32_t> ids(state.epNodes.sendSet.begin(), state.epNodes.sendSet.end());
    state.epNodes.sendSet.clear();
    for (int32_t id : ids) {
        EPNodePtr ep = DeviceStateEPNodesFind(state.epNodes, id);
        if (!ep) continue;
        uint32_t address = 0;
        QV_STATUS s = registerAddressOf(state.features, *ep, address) ? sendEndpoint(device, ep, address)
                                                                      : dropMarks(device, *ep);
        if (s == QV_NO_ERROR) continue;
        QVLOG_LIMITED(logging::error) << "Can't send endpoint (EPId=" << id << "), status " << s.code()
                              << "; its pending write and request are dropped.";
        // The endpoint's own failure is reported already.
        dropMarks(device, *ep).ignore();
        if (!first) first = s;
    }
    return first;
}

QV_STATUS pollAmplifiers(DeviceAccess& device, DeviceState& state) {
    if (state.tampUpdateState != TAmpUpdateState::Requested) return QV_NO_ERROR;
    // A poll that times out is simply asked for again.
    auto again = [](DeviceAccess& dev, const std::shared_ptr<void>&) { stateOf(dev).tampUpdateState = TAmpUpdateState::Requested;
    };
    if (QV_STATUS s = DeviceStateCmdRequest(device, TAmpUpdateComplete, again, nullptr, kTAmpPollCommand, 0,
                                            nullptr, 0))
        return s;
    state.tampUpdateState = TAmpUpdateState::InFlight;
    return QV_NO_ERROR;
}

void strobePid(DeviceAccess& device, DeviceState& state) {
    if (!state.pidStrobePending) return;
    if (state.pidStrobeEnable && state.pidStrobeAddress) queueRegisterWord(device, state.pidStrobeAddress, 1);
    state.pidStrobePending = false;
}

QV_STATUS tickLeds(DeviceAccess& device, DeviceState& state) {
    if (!(state.ledFlags & 1)) return QV_NO_ERROR;
    const EngineTime now = device.now();
    if (!state.ledTime) state.ledTime = now;
    if (now - *state.ledTime < kLedTickInterval) return QV_NO_ERROR;
    for (uint32_t address : state.ledRegisters) queueRegisterWord(device, address, uint32_t(state.ledCounter & 1));
    ++state.ledCounter;
    state.ledTime = now;
    if (state.ledCounter >= kLedTicks) return DeviceStateLedRegistersClear(device);
    return QV_NO_ERROR;
}

// Ends the 50 Ohm forcing: the IMP50 leaves there are (an instrument may have
// a single input) are written again with their own settings.
QV_STATUS rewriteSignalInputs(DeviceAccess& device, DeviceState& state) {
    if (state.sigInRewriteState != SigInRewriteState::Armed || device.now() - state.sigInRewriteTime < kSigInRewriteDelay)
        return QV_NO_ERROR;
    state.sigInRewriteState = SigInRewriteState::Idle;
    for (int id : state.sigInRewriteEPIds) {
        if (id < 0) continue;
        if (QV_STATUS s = DeviceStateEPNodesMarkWrite(state.epNodes, id)) return s;
    }
    return QV_NO_ERROR;
}

}  // namespace

QV_STATUS DeviceStateSendChanges(DeviceAccess& device) {
    DeviceState& state = stateOf(device);
    DeviceStateBootstrapPoll(device);
    const QV_STATUS sent = sendMarkedEndpoints(device, state);
    if (QV_STATUS s = pollAmplifiers(device, state)) return s;
    strobePid(device, state);
    if (QV_STATUS s = tickLeds(device, state)) return s;
    if (QV_STATUS s = rewriteSignalInputs(device, state)) return s;
    return sent;
}

bool DeviceStateHasChangesToSend(DeviceAccess& device) {
    const DeviceState* state = device.deviceState();
    return state && (!state->epNodes.sendSet.empty() || state->pidStrobePending ||
                     state->tampUpdateState == TAmpUpdateState::Requested);
}

void TAmpUpdateComplete(DeviceAccess& device, const uint8_t* reply, uint32_t length, const std::shared_ptr<void>&) {
    QVLOG(logging::debug) << BOOST_CURRENT_FUNCTION;
    bool busy = false;
    for (uint32_t i = 0; i < length / 4; ++i) {
        const uint32_t word = le::get32(reply + 4 * i);
        QVLOG(logging::debug) << "tamp " << i << " state=" << word;
        busy = busy || word != 0;
    }
    stateOf(device).tampUpdateState = busy ? TAmpUpdateState::Requested : TAmpUpdateState::Idle;
}

}  // namespace tarnix
