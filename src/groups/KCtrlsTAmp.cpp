#include "groups/KCtrlsTAmp.h"

#include "platform/endian/ByteOrder.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/KCtrls.h"
#include "groups/common/BooleanUpdateData.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/SharedWriteHandlers.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"

#include <algorithm>
#include <cmath>

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;

namespace {

constexpr double kRawStep = 1.0 / 65535;  // 1.5259021896696422e-05

// A voltage parameter: raw 0 is +range, raw 65535 is -range.
struct VoltageScale {
    double range;     // volts
    double span;      // 2 * range
    double perVolt;   // raw steps per volt / 65535
};
constexpr VoltageScale kBiasScale{10.0, 20.0, 0.05};
constexpr VoltageScale kOffsetScale{0.01, 0.02, 50.0};
constexpr uint32_t kPortBytes = 4;
constexpr uint32_t kValueBytes = 4;

// A leaf's parameter code and raw default, and how it is shown.
struct TAmpLeafEntry {
    uint32_t code;
    uint32_t raw;
    int32_t registerSize;
    ReadDataFunc read;
    WriteNumberFunc write;
    UpdateDataFunc update;
};

// The user block of command 22.
struct TAmpValueRequest {
    int32_t epId;
    uint32_t code;
};

double voltageFromRaw(uint32_t raw, const VoltageScale& scale) { return -(raw * kRawStep * scale.span - scale.range); }

// Clamped to the range; NaN counts as 0 V.
uint32_t voltageToRaw(double volts, const VoltageScale& scale) {
    if (std::isnan(volts)) volts = 0.0;
    volts = std::min(std::max(volts, -scale.range), scale.range);
    return uint32_t(int64_t(std::trunc((scale.range - volts) * 65535 * scale.perVolt)));
}

uint32_t portOf(const DeviceStateEPNode& ep) { return ep.bytes.size() >= kPortBytes ? le::get32(ep.bytes.data()) : 0; }

// Replies and pushes of the node value's own type (double or integer).
QV_STATUS replyValue(DeviceAccess& device, const DeviceStateEPNode& ep, uint16_t seq, uint16_t session, uint16_t flags,
                     double value) {
    return replyDouble(device, ep, seq, session, flags, value);
}
QV_STATUS replyValue(DeviceAccess& device, const DeviceStateEPNode& ep, uint16_t seq, uint16_t session, uint16_t flags,
                     int64_t value) {
    return replyInteger(device, ep, seq, session, flags, value);
}
QV_STATUS pushValue(DeviceAccess& device, int32_t epId, double value) { return pushDouble(device, epId, value); }
QV_STATUS pushValue(DeviceAccess& device, int32_t epId, int64_t value) { return pushInteger(device, epId, value); }

template <class Value>
QV_STATUS readRaw(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                  Value (*shown)(uint32_t)) {
    return replyValue(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, shown(storedWord(*ep)));
}

// Every write, also of the value already stored, sends command 21 and starts a poll.
template <class Value>
QV_STATUS writeRaw(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, uint32_t raw,
                   Value (*shown)(uint32_t)) {
    bool changed = false;
    if (QV_STATUS s = WriteWordSetting(device, *ep, raw, changed)) return s;
    return replyValue(device, *ep, seq, session, writeReplyFlags(changed), shown(storedWord(*ep)));
}

template <class Value>
QV_STATUS updateRaw(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length,
                    Value (*shown)(uint32_t)) {
    uint32_t raw = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, raw, changed)) return s;
    return changed ? pushValue(device, ep->epId, shown(raw)) : QV_NO_ERROR;
}

// One parameter leaf: endpoint, handlers, raw default, port index, and the
// read-back of the amplifier's value (whose queueing may fail: the leaf then
// keeps its default until written or read back later).
template <class T>
QV_STATUS buildLeaf(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent, Feature* port,
                    const TAmpLeafEntry& entry) {
    EPNodePtr ep = CreateLeaf<T>(device, group, parent, kValueBytes, entry.registerSize, port, 0, 0);
    ep->readData = entry.read;
    ep->writeNumber = entry.write;
    ep->updateData = entry.update;
    storeWord(*ep, entry.raw);
    uint8_t portBytes[kPortBytes];
    le::put32(portBytes, port ? KCtrlPortIndex(*port) : 0);
    if (QV_STATUS s = DeviceStateEPSetBytes(*ep, sizeof portBytes, portBytes)) return s;
    ep->writeData = TAmpWriteData(entry.code);
    // See above: a failed read-back leaves the default value.
    TAmpRequestValue(device, ep, entry.code).ignore();
    return QV_NO_ERROR;
}

}  // namespace

const std::vector<NodeValueListEntry>& LQ3::KCtrls::TAmp::ExtBias::values() {
    static const std::vector<NodeValueListEntry> table{{"External bias off", 0}, {"External bias on", 1}};
    return table;
}
const std::vector<NodeValueListEntry>& LQ3::KCtrls::TAmp::Channel::CurrentGain::values() {
    static const std::vector<NodeValueListEntry> table{{"100x", 100},     {"1kx", 1000},       {"10kx", 10000},
                                                       {"100kx", 100000}, {"1Mx", 1000000},    {"10Mx", 10000000},
                                                       {"100Mx", 100000000}};
    return table;
}
const std::vector<NodeValueListEntry>& LQ3::KCtrls::TAmp::Channel::DC::values() {
    static const std::vector<NodeValueListEntry> table{{"AC Mode", 0}, {"DC Mode", 1}};
    return table;
}
const std::vector<NodeValueListEntry>& LQ3::KCtrls::TAmp::Channel::VoltageGain::values() {
    static const std::vector<NodeValueListEntry> table{{"1x", 1}, {"10x", 10}};
    return table;
}

double TAmpBiasOutFromRaw(uint32_t raw) { return voltageFromRaw(raw, kBiasScale); }
uint32_t TAmpBiasOutToRaw(double volts) { return voltageToRaw(volts, kBiasScale); }
double TAmpOffsetFromRaw(uint32_t raw) { return voltageFromRaw(raw, kOffsetScale); }
uint32_t TAmpOffsetToRaw(double volts) { return voltageToRaw(volts, kOffsetScale); }

int64_t TAmpCurrentGainFromRaw(uint32_t raw) { return raw < kTAmpGainTable.size() ? kTAmpGainTable[raw] : 0; }

uint32_t TAmpCurrentGainToRaw(int64_t gain) {
    uint32_t index = 0;
    for (std::size_t i = 1; i < kTAmpGainTable.size(); ++i)
        if (gain >= (kTAmpGainTable[i - 1] + kTAmpGainTable[i]) >> 1) index = uint32_t(i);
    return index;
}

int64_t TAmpVoltageGainFromRaw(uint32_t raw) { return raw != 0 ? 1 : 10; }
uint32_t TAmpVoltageGainToRaw(int64_t gain) { return gain >= 5 ? 0 : 1; }

QV_STATUS TAmpInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& amplifierNode,
                   Feature* port) {
    using TAmp = LQ3::KCtrls::TAmp;
    for (uint32_t c = 0; c < kTAmpChannels; ++c) {
        const TreeNode::Ptr channel = CreateChild<TAmp::Channel>(amplifierNode);
        channel->setIndex(int32_t(c));
        if (QV_STATUS s = TAmpChannelInit(device, group, channel, port, c)) return s;
    }
    if (QV_STATUS s = buildLeaf<TAmp::ExtBias>(
            device, group, amplifierNode, port,
            {TAMP_EXTBIAS, 0, 0, TAmpExtBiasReadData, BooleanWriteNumber, BooleanUpdateData}))
        return s;
    if (QV_STATUS s = buildLeaf<TAmp::BiasOut>(
            device, group, amplifierNode, port,
            {TAMP_BIASOUT, kTAmpMidScale, 4, TAmpBiasOutReadData, TAmpBiasOutWriteNumber, TAmpBiasOutUpdateData}))
        return s;
    const uint32_t portIndex = port ? KCtrlPortIndex(*port) : 0;
    return DeviceStateCmdRequest(
        device, [](DeviceAccess& dev, const uint8_t*, uint32_t, const std::shared_ptr<void>&) { TAmpRequestUpdate(dev); },
        nullptr, nullptr, CMD_TAMP_INIT, portIndex, nullptr, 0);
}

QV_STATUS TAmpChannelInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& channelNode,
                          Feature* port, uint32_t channel) {
    using Channel = LQ3::KCtrls::TAmp::Channel;
    const uint32_t step = channel * kTAmpChannelCodeStep;
    if (QV_STATUS s = buildLeaf<Channel::CurrentGain>(device, group, channelNode, port,
                                                      {TAMP_CURRENTGAIN + step, kTAmpDefaultCurrentGain, 0,
                                                       TAmpCurrentGainReadData, TAmpCurrentGainWriteNumber,
                                                       TAmpCurrentGainUpdateData}))
        return s;
    if (QV_STATUS s = buildLeaf<Channel::DC>(
            device, group, channelNode, port,
            {TAMP_DC + step, kTAmpDefaultDC, 0, BooleanReadData, BooleanWriteNumber, BooleanUpdateData}))
        return s;
    if (QV_STATUS s = buildLeaf<Channel::VoltageGain>(device, group, channelNode, port,
                                                      {TAMP_VOLTAGEGAIN + step, kTAmpDefaultVoltageGain, 0,
                                                       TAmpVoltageGainReadData, TAmpVoltageGainWriteNumber,
                                                       TAmpVoltageGainUpdateData}))
        return s;
    return buildLeaf<Channel::Offset>(
        device, group, channelNode, port,
        {TAMP_OFFSET + step, kTAmpMidScale, 0, TAmpOffsetReadData, TAmpOffsetWriteNumber, TAmpOffsetUpdateData});
}

QV_STATUS TAmpBiasOutReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return readRaw(device, ep, seq, session, TAmpBiasOutFromRaw);
}
QV_STATUS TAmpOffsetReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return readRaw(device, ep, seq, session, TAmpOffsetFromRaw);
}
QV_STATUS TAmpCurrentGainReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return readRaw(device, ep, seq, session, TAmpCurrentGainFromRaw);
}
QV_STATUS TAmpVoltageGainReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return readRaw(device, ep, seq, session, TAmpVoltageGainFromRaw);
}
QV_STATUS TAmpExtBiasReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, storedWord(*ep) != 0 ? 1.0 : 0.0);
}

QV_STATUS TAmpBiasOutWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                 double value, int64_t) {
    // A NaN names no voltage: no command goes to the amplifier.
    if (std::isnan(value)) return replyValueInForce(device, *ep, seq, session, TAmpBiasOutFromRaw(storedWord(*ep)));
    return writeRaw(device, ep, seq, session, TAmpBiasOutToRaw(value), TAmpBiasOutFromRaw);
}
QV_STATUS TAmpOffsetWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                double value, int64_t) {
    if (std::isnan(value)) return replyValueInForce(device, *ep, seq, session, TAmpOffsetFromRaw(storedWord(*ep)));
    return writeRaw(device, ep, seq, session, TAmpOffsetToRaw(value), TAmpOffsetFromRaw);
}
QV_STATUS TAmpCurrentGainWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double, int64_t integer) {
    return writeRaw(device, ep, seq, session, TAmpCurrentGainToRaw(integer), TAmpCurrentGainFromRaw);
}
QV_STATUS TAmpVoltageGainWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double, int64_t integer) {
    return writeRaw(device, ep, seq, session, TAmpVoltageGainToRaw(integer), TAmpVoltageGainFromRaw);
}

QV_STATUS TAmpBiasOutUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return updateRaw(device, ep, data, length, TAmpBiasOutFromRaw);
}
QV_STATUS TAmpOffsetUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return updateRaw(device, ep, data, length, TAmpOffsetFromRaw);
}
QV_STATUS TAmpCurrentGainUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                    uint32_t length) {
    return updateRaw(device, ep, data, length, TAmpCurrentGainFromRaw);
}
QV_STATUS TAmpVoltageGainUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                    uint32_t length) {
    return updateRaw(device, ep, data, length, TAmpVoltageGainFromRaw);
}

WriteDataFunc TAmpWriteData(uint32_t code) {
    return [code](DeviceAccess& device, const EPNodePtr& ep, uint32_t) -> QV_STATUS {
        stateOf(device).tampUpdateState = TAmpUpdateState::Requested;
        uint8_t payload[12];
        le::put32(payload, portOf(*ep));
        le::put32(payload + 4, code);
        le::put32(payload + 8, storedWord(*ep));
        return DeviceStateCmdRequest(device, nullptr, nullptr, nullptr, CMD_TAMP_WRITE, 0, payload, sizeof payload);
    };
}

QV_STATUS TAmpRequestValue(DeviceAccess& device, const EPNodePtr& ep, uint32_t code) {
    auto request = std::make_shared<TAmpValueRequest>(TAmpValueRequest{ep->epId, code});
    uint8_t payload[8];
    le::put32(payload, portOf(*ep));
    le::put32(payload + 4, code);
    return DeviceStateCmdRequest(device, TAmpRequestValueComplete, TAmpRequestValueTimeout, std::move(request),
                                 CMD_TAMP_READ, 0, payload, sizeof payload);
}

void TAmpRequestValueComplete(DeviceAccess& device, const uint8_t* reply, uint32_t length,
                              const std::shared_ptr<void>& user) {
    const auto* request = static_cast<const TAmpValueRequest*>(user.get());
    // A reply too short for its two words counts as one without a valid value.
    if (!request || !reply || length < 8 || le::get32(reply) == 0) return;
    const EPNodePtr ep = DeviceStateEPNodesFind(stateOf(device).epNodes, request->epId);
    // A completion has nobody to answer; a full output FIFO loses only this push.
    if (ep && ep->updateData) ep->updateData(device, ep, reply + 4, 4).ignore();
}

void TAmpRequestValueTimeout(DeviceAccess&, const std::shared_ptr<void>&) {
    // No retry: the leaf keeps its value; the user block goes with the entry.
}

void TAmpRequestUpdate(DeviceAccess& device) { stateOf(device).tampUpdateState = TAmpUpdateState::Requested; }

}  // namespace tarnix
